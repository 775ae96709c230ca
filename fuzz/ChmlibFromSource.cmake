# The fuzz build compiles chmlib itself from Debian's source, with the same instrumentation as
# the rest, so that a fault inside chmlib is reported where it happens rather than as damage
# seen later. LUMENO_CHMLIB_SOURCE names the unpacked source ("apt-get source chmlib"; run.sh
# fetches it); the library replaces the system's for every target of this build.
set(LUMENO_CHMLIB_SOURCE "" CACHE PATH "Unpacked chmlib source (fuzz build)")
if(NOT EXISTS "${LUMENO_CHMLIB_SOURCE}/src/chm_lib.c")
    message(FATAL_ERROR "LUMENO_FUZZ needs chmlib's source: set LUMENO_CHMLIB_SOURCE to the folder "
                        "of 'apt-get source chmlib' (fuzz/run.sh does this)")
endif()
add_library(chm_instrumented STATIC ${LUMENO_CHMLIB_SOURCE}/src/chm_lib.c
                                    ${LUMENO_CHMLIB_SOURCE}/src/lzx.c)
# Debian's configure defines these on Linux.
target_compile_definitions(chm_instrumented PRIVATE CHM_MT CHM_USE_PREAD CHM_USE_IO64)
# chmlib assembles every signed 32-bit field with a shift into the sign bit (an index root of -1
# in every file): undefined in C, harmless with any compiler, and not what the fuzzing looks for.
target_compile_options(chm_instrumented PRIVATE -w -fno-sanitize=shift-base)
target_link_libraries(chm_instrumented PUBLIC pthread)
set(CHMLIB_LIBRARY chm_instrumented)
set(CHMLIB_INCLUDE_DIR ${LUMENO_CHMLIB_SOURCE}/src)
