# The preset store against the registry under Wine: scratch keys stand in for both roots, and one
# case uses the real roots of the test prefix.
oryn_add_gtest(PresetStoreTest PresetStoreTest.cpp LIBS oryn_plugin advapi32)
# One case writes and deletes under the real store of the test prefix, which the host tests use.
set_tests_properties(PresetStoreTest PROPERTIES RESOURCE_LOCK oryn_store)
