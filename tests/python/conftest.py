import hypothesis

# Property tests run a fixed number of examples, with no deadline: timing is
# measured by benchmarks, never asserted by tests.
hypothesis.settings.register_profile("default", max_examples=300, deadline=None)
hypothesis.settings.load_profile("default")
