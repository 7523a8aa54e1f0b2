# Runs one command (the test host under Wine) and checks what it did.
#   cmake -P RunHost.cmake [check...] -- command [argument...]
# Checks:
#   EXIT code          the exit status the command must have
#   ENV name=value     set in the command's environment
#   LINE regex         some line of standard output must match the regex in full
#   NOLINE regex       no line of standard output may match the regex in full
#   OUTPUT file        deleted before the run; must exist afterwards
#   ABSENT file        deleted before the run; must not exist afterwards
#   SAME file1 file2   after the run, the two files must have the same bytes
# Every failed check is reported; the script fails if any did.

set(command "")
set(expect_exit "")
set(lines "")
set(nolines "")
set(outputs "")
set(absents "")
set(same_pairs "")
set(index 3) # CMAKE_ARGV0..2: cmake, -P, this script
set(in_command FALSE)
while(index LESS CMAKE_ARGC)
    set(arg "${CMAKE_ARGV${index}}")
    math(EXPR index "${index} + 1")
    if(in_command)
        list(APPEND command "${arg}")
        continue()
    endif()
    if(arg STREQUAL "--")
        set(in_command TRUE)
        continue()
    endif()
    set(value "${CMAKE_ARGV${index}}")
    math(EXPR index "${index} + 1")
    if(arg STREQUAL "EXIT")
        set(expect_exit "${value}")
    elseif(arg STREQUAL "ENV")
        string(FIND "${value}" "=" equals)
        string(SUBSTRING "${value}" 0 ${equals} name)
        math(EXPR start "${equals} + 1")
        string(SUBSTRING "${value}" ${start} -1 content)
        set(ENV{${name}} "${content}")
    elseif(arg STREQUAL "LINE")
        list(APPEND lines "${value}")
    elseif(arg STREQUAL "NOLINE")
        list(APPEND nolines "${value}")
    elseif(arg STREQUAL "OUTPUT")
        list(APPEND outputs "${value}")
    elseif(arg STREQUAL "ABSENT")
        list(APPEND absents "${value}")
    elseif(arg STREQUAL "SAME")
        set(second "${CMAKE_ARGV${index}}")
        math(EXPR index "${index} + 1")
        list(APPEND same_pairs "${value}|${second}")
    else()
        message(FATAL_ERROR "RunHost: unknown check '${arg}'")
    endif()
endwhile()
if(NOT command)
    message(FATAL_ERROR "RunHost: no command after --")
endif()

foreach(file IN LISTS outputs absents)
    get_filename_component(dir "${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(REMOVE "${file}")
endforeach()

execute_process(COMMAND ${command}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE stdout
    ERROR_VARIABLE stderr)
message("${stdout}")
if(stderr)
    message("stderr:\n${stderr}")
endif()

set(failures 0)
macro(fail text)
    message("FAILED: ${text}")
    math(EXPR failures "${failures} + 1")
endmacro()

if(NOT expect_exit STREQUAL "" AND NOT status STREQUAL expect_exit)
    fail("exit status ${status}, expected ${expect_exit}")
endif()

# One list element per output line. The host's output has no semicolons or brackets that would
# upset CMake's list splitting; any that appear are replaced first.
string(REPLACE ";" "," text "${stdout}")
string(REPLACE "[" "(" text "${text}")
string(REPLACE "]" ")" text "${text}")
string(REPLACE "\r" "" text "${text}")
string(REPLACE "\n" ";" output_lines "${text}")

foreach(regex IN LISTS lines)
    set(found FALSE)
    foreach(line IN LISTS output_lines)
        if(line MATCHES "^(${regex})$")
            set(found TRUE)
            break()
        endif()
    endforeach()
    if(NOT found)
        fail("no line matches: ${regex}")
    endif()
endforeach()

foreach(regex IN LISTS nolines)
    foreach(line IN LISTS output_lines)
        if(line MATCHES "^(${regex})$")
            fail("line should not be there: ${line}")
        endif()
    endforeach()
endforeach()

foreach(file IN LISTS outputs)
    if(NOT EXISTS "${file}")
        fail("missing output file ${file}")
    endif()
endforeach()
foreach(file IN LISTS absents)
    if(EXISTS "${file}")
        fail("file should not exist: ${file}")
    endif()
endforeach()
foreach(pair IN LISTS same_pairs)
    string(REPLACE "|" ";" files "${pair}")
    list(GET files 0 first)
    list(GET files 1 second)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${first}" "${second}"
        RESULT_VARIABLE different)
    if(different)
        fail("${first} and ${second} differ")
    endif()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} check(s) failed")
endif()
