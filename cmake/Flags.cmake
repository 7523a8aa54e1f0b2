# Compiler flags shared by every target. Exactness: no contraction into fused multiply-add and no
# fast-math anywhere; SSE2 arithmetic on i686 so that 32-bit Windows rounds like x86-64.
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
    add_compile_options(-msse2 -mfpmath=sse)
endif()

if(WIN32)
    # Plain ANSI Win32 calls; no min/max macros.
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    # Self-contained binaries: libgcc, libstdc++ and winpthread linked in, system DLLs only.
    add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(ORYN_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
