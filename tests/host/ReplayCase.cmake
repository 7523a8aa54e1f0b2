# One silent-replay case: the native tool renders an image with a parameter record, the filter
# module replays the same record (stored as "Last Used") through the test host under Wine, and
# the two outputs must be the same bytes. Variables (-D):
#   HOST       the emulator and the test host, separated by |
#   MODULE     the filter module
#   TOOL       the native oryn3d
#   DIR        a work folder
#   PLANES     3 or 4
#   MASK       ON to render with a selection mask
#   TOOL_ARGS  oryn3d control options that make the record, separated by |
#   COLOURS    the host's foreground and background colours, RRGGBB|RRGGBB
#   CANCEL     optional: cancel from this row on; FILL is then the colour the rows from the
#              cancelled row on must keep (RRGGBB or RRGGBBAA), FILL_ROW the first of them
string(REPLACE "|" ";" host "${HOST}")
string(REPLACE "|" ";" tool_args "${TOOL_ARGS}")
string(REPLACE "|" ";" colours "${COLOURS}")
list(GET colours 0 fore)
list(GET colours 1 back)
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
set(failures "")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(run_code "${code}" PARENT_SCOPE)
    set(run_out "${out}" PARENT_SCOPE)
    message(STATUS "$ ${ARGN}\n${out}${err}")
endfunction()

function(expect_line regex)
    string(REGEX MATCH "(^|\n)${regex}(\n|$)" found "${run_out}")
    if(NOT found)
        set(failures "${failures}\n  no line matches: ${regex}" PARENT_SCOPE)
    endif()
endfunction()

# Input image and mask, made by the test host so that both hosts read the same files.
run(${host} --size 160x120 --planes ${PLANES} --write-input ${DIR}/in.png)
set(mask_args "")
if(MASK)
    run(${host} --size 160x120 --planes 1 --write-input ${DIR}/mask.png)
    set(mask_args --mask ${DIR}/mask.png)
endif()

# The record, then the native render of exactly that record.
run(${TOOL} render ${DIR}/in.png -o ${DIR}/first.png ${tool_args} ${mask_args}
    --foreground-color ${fore} --background-color ${back} --save-block ${DIR}/record.bin --quiet)
if(NOT run_code EQUAL 0)
    message(FATAL_ERROR "oryn3d could not make the record")
endif()
run(${TOOL} render ${DIR}/in.png -o ${DIR}/expected.png --block ${DIR}/record.bin ${mask_args}
    --foreground-color ${fore} --background-color ${back} --quiet)
if(NOT run_code EQUAL 0)
    message(FATAL_ERROR "oryn3d could not render the record")
endif()
file(READ ${DIR}/record.bin record_hex HEX)

set(check_args --compare ${DIR}/expected.png)
set(expect_exit 0)
if(DEFINED CANCEL)
    # Rows before the cancelled one are the full render; the rest keep the background fill.
    set(check_args --cancel-at-row ${CANCEL} --keep-partial --compare ${DIR}/expected.png
        --compare-rows 0:${FILL_ROW} --expect-rows ${FILL_ROW}:100000 ${FILL})
    set(expect_exit 1)
endif()
run(${host} --plugin ${MODULE} --clear-store --store-last-used @${DIR}/record.bin
    --in ${DIR}/in.png ${mask_args} --fore ${fore} --back ${back} --out ${DIR}/replayed.png
    --show-store ${check_args})

if(NOT run_code EQUAL expect_exit)
    set(failures "${failures}\n  exit status ${run_code}, expected ${expect_exit}")
endif()
expect_line("image .*in.png 160x120 channels ${PLANES} planes ${PLANES}")
expect_line("store Last Used type 3 bytes 64 ${record_hex}")
if(DEFINED CANCEL)
    expect_line([[call start -> -128]])
    math(EXPR last_compared "${FILL_ROW} - 1")
    expect_line("compare identical rows 0 to ${last_compared}")
    expect_line("expect rows ${FILL_ROW} to 119 hold the colour")
else()
    expect_line([[call start -> 0]])
    expect_line([[compare identical rows 0 to 119]])
endif()
string(REGEX MATCH "changed start: [^\n]*" changed "${run_out}")
if(NOT changed OR changed MATCHES "Rect")
    set(failures "${failures}\n  the request rectangles are not empty after start: ${changed}")
endif()
# No dialog in a silent run, and the rectangles are empty afterwards: nothing more is requested.
string(FIND "${run_out}" "call parameters" asked)
string(FIND "${run_out}" "box " boxed)
if(NOT asked EQUAL -1 OR NOT boxed EQUAL -1)
    set(failures "${failures}\n  a silent run showed or asked for a dialog")
endif()
if(failures)
    message(FATAL_ERROR "replay case failed:${failures}")
endif()
