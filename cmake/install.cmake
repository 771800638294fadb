include(CMakePackageConfigHelpers)

set(QCAPS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake)
# Where the catalogue's data goes; the qcaps package names the file.
set(QCAPS_DATA_DIR ${CMAKE_INSTALL_DATADIR}/qcaps)

# Each package's headers live under a directory of its own name, so that a
# shared prefix such as /usr/local gains only include/qcaps and include/qattrs.
# The exported targets add those directories to their include path, so that
# callers write the same includes as this tree: "catalogue/operator_type.h".
# qcaps's also add include/ itself, so that a caller beside another library
# with an onnx/ directory (ONNX's own) can name this project's headers
# unambiguously: "qcaps/onnx/common/interned_strings.h".
install(FILES onnx/common/interned_strings.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qcaps/onnx/common)
install(FILES catalogue/operator_type.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qcaps/catalogue)
install(FILES attrs/quantization_attrs.h attrs/calibration_attrs.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qattrs/attrs)

# One package per deliverable: they share nothing.
foreach(package qcaps qattrs)
  if(package STREQUAL "qcaps")
    set(targets qcaps_symbols qcaps_catalogue)
  else()
    set(targets qattrs_attrs)
  endif()
  install(TARGETS ${targets} EXPORT ${package}Targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${package})
  install(EXPORT ${package}Targets NAMESPACE ${package}::
          DESTINATION ${QCAPS_CMAKE_DIR}/${package})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/${package}Config.cmake.in
    ${PROJECT_BINARY_DIR}/${package}Config.cmake INSTALL_DESTINATION ${QCAPS_CMAKE_DIR}/${package}
    PATH_VARS QCAPS_DATA_DIR)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/${package}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/${package}Config.cmake
                ${PROJECT_BINARY_DIR}/${package}ConfigVersion.cmake
          DESTINATION ${QCAPS_CMAKE_DIR}/${package})
endforeach()

# The catalogue as data, for checking names without Python.
install(FILES ${QCAPS_CATALOGUE_DATA} DESTINATION ${QCAPS_DATA_DIR})
