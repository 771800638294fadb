# Misuses that mypy must report against the installed stubs. Each line that
# must be reported carries the error code expected on it.
import qattrs
import qcaps

caps = qcaps.OperatorType("corvel")
caps.input_support_types(48)  # E: arg-type
caps.input_support_types(bytearray(b"Conv"), 1) | caps.support_types(b"Conv", "int8-?")
caps.support_types(kind="Conv", pattern="?")  # E: call-arg
qcaps.OperatorType()  # E: call-arg
attrs = qattrs.QuantizationAttrs()
attrs.set_scale()  # E: misc
attrs.get_value = 5  # E: misc
count: str = qattrs.CalibrationAttrs().number_of_methods  # E: assignment
