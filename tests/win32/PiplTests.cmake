# The module's property list read back from the built .8bf, and the PiPL reader of the test host
# on malformed input.
oryn_add_gtest(PiplTest PiplTest.cpp ${CMAKE_SOURCE_DIR}/tools/testhost/PiplReader.cpp
    LIBS oryn_core)
target_compile_definitions(PiplTest PRIVATE ORYN_MODULE_PATH="$<TARGET_FILE:oryn_module>")
add_dependencies(PiplTest oryn_module)
