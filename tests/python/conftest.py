import hypothesis

# Property tests run a fixed number of examples, with no deadline: timing is
# measured by benchmarks, never asserted by tests.
hypothesis.settings.register_profile("default", max_examples=300, deadline=None)
hypothesis.settings.load_profile("default")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "pythonmalloc(name): run the case's child interpreter with PYTHONMALLOC=name"
    )
    # A sanitizer run puts its own build of the modules first on sys.path;
    # make sure the tests exercise that build and not the installed one.
    import os

    expected = os.environ.get("QCAPS_EXPECT_MODULES_IN")
    if expected:
        import qattrs
        import qcaps

        for module in (qcaps, qattrs):
            assert module.__file__.startswith(expected), module.__file__
