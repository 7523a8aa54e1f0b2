# Silent replay end to end: the module under Wine against the native command-line tool, byte for
# byte. Needs a native build of oryn3d; scripts/test.sh passes its folder as ORYN_NATIVE_BUILD.
if(NOT ORYN_NATIVE_BUILD)
    message(STATUS "Replay tests against the native tool: off (set ORYN_NATIVE_BUILD to a native build folder)")
    return()
endif()
set(native_tool ${ORYN_NATIVE_BUILD}/tools/oryn3d/oryn3d)

# oryn_replay_case(name PLANES n [MASK] [COLOURS fore|back] [CANCEL row FILL colour FILL_ROW row]
#                  TOOL_ARGS option...)
function(oryn_replay_case name)
    cmake_parse_arguments(ARG "MASK" "PLANES;COLOURS;CANCEL;FILL;FILL_ROW" "TOOL_ARGS" ${ARGN})
    if(NOT ARG_COLOURS)
        set(ARG_COLOURS "000000|FFFFFF")
    endif()
    string(REPLACE ";" "|" tool_args "${ARG_TOOL_ARGS}")
    set(host_command ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:oryn_testhost>)
    string(REPLACE ";" "|" host_command "${host_command}")
    set(extra "")
    if(ARG_CANCEL)
        list(APPEND extra -DCANCEL=${ARG_CANCEL} -DFILL=${ARG_FILL} -DFILL_ROW=${ARG_FILL_ROW})
    endif()
    add_test(NAME replay_${name}
        COMMAND ${CMAKE_COMMAND} "-DHOST=${host_command}" -DMODULE=$<TARGET_FILE:oryn_module>
                -DTOOL=${native_tool} -DDIR=${CMAKE_CURRENT_BINARY_DIR}/replay/${name}
                -DPLANES=${ARG_PLANES} -DMASK=${ARG_MASK} "-DTOOL_ARGS=${tool_args}"
                "-DCOLOURS=${ARG_COLOURS}" ${extra} -P ${CMAKE_CURRENT_SOURCE_DIR}/ReplayCase.cmake)
    oryn_wine_test(replay_${name})
    # Every case stores its own "Last Used" record: one at a time.
    set_tests_properties(replay_${name} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK oryn_store
        TIMEOUT 120)
endfunction()

oryn_replay_case(orystone_rgb PLANES 3 TOOL_ARGS --preset Orystone)
oryn_replay_case(herringbone_rgba_mask PLANES 4 MASK
    TOOL_ARGS --preset Herring-Bone --background transparent)
oryn_replay_case(bricks_rgb_mask_foreground PLANES 3 MASK COLOURS "336699|FFEEDD"
    TOOL_ARGS --preset "Front Bricks" --background foreground --no-antialias)
oryn_replay_case(jalousie_rgba_background PLANES 4 COLOURS "102030|C08040"
    TOOL_ARGS --preset Jalousie --background background --light 10,40 --x2)
oryn_replay_case(wrapper_rgb_picker PLANES 3 MASK
    TOOL_ARGS --preset "Embossed Wrapper" --background 2080C0 --light-boost 70 --brightness-ratio 40)
# Transparent is lowered to Picker on a three-plane image: the stored colour shows.
oryn_replay_case(roof_rgb_transparent_lowered PLANES 3 TOOL_ARGS --preset Roof --background transparent)

# Cancelled from the host at row 47, with one render thread (ORYN_THREADS=1): abortProc answers 1
# at the next progress call, before row 55, and every row from there keeps the Picker fill.
oryn_replay_case(cancel_orystone PLANES 3 CANCEL 47 FILL_ROW 55 FILL C0C0C0
    TOOL_ARGS --preset Orystone --background C0C0C0)
set_property(TEST replay_cancel_orystone APPEND PROPERTY ENVIRONMENT ORYN_THREADS=1)
