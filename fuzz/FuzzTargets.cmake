# The fuzz targets' entry logic as a library: the libFuzzer programs (fuzz/) and the replay test
# (tests/fuzz/) both link it. Included from both folders; defined once.
if(NOT TARGET fuzztargets)
    set(_fuzz_dir ${CMAKE_SOURCE_DIR}/fuzz)
    add_library(fuzztargets STATIC
        ${_fuzz_dir}/FuzzCalculator.cpp
        ${_fuzz_dir}/FuzzCheck.cpp
        ${_fuzz_dir}/FuzzDirectory.cpp
        ${_fuzz_dir}/FuzzImageReader.cpp
        ${_fuzz_dir}/FuzzImageStream.cpp
        ${_fuzz_dir}/FuzzItss.cpp
        ${_fuzz_dir}/FuzzLzx.cpp
        ${_fuzz_dir}/FuzzMetadata.cpp
        ${_fuzz_dir}/FuzzOpen.cpp
        ${_fuzz_dir}/FuzzSitemap.cpp
        ${_fuzz_dir}/ChmContainerModel.cpp
        ${_fuzz_dir}/ContainerMutator.cpp
        ${_fuzz_dir}/LzxMutator.cpp
        ${_fuzz_dir}/LzxWalk.cpp
        ${_fuzz_dir}/LzxWriter.cpp
        # The sound streams of the LZX mutation are written as the crafted test books are.
        ${CMAKE_SOURCE_DIR}/tests/support/LzxStreamWriter.cpp
    )
    target_include_directories(fuzztargets PUBLIC ${_fuzz_dir}
        PRIVATE ${CHMLIB_INCLUDE_DIR} ${CMAKE_SOURCE_DIR}/tests/support)
    target_link_libraries(fuzztargets PUBLIC viewer chmcontainer conversionInternal Qt6::Core
        PRIVATE ${CHMLIB_LIBRARY} mspack)
    # The itss target answers from a compiled fixture of the same build.
    target_compile_definitions(fuzztargets PRIVATE
        LUMENO_FUZZ_DOCUMENT_DEFAULT="${CMAKE_BINARY_DIR}/fixtures/names.chm")
    add_dependencies(fuzztargets fixtures)
    # These include qpdf's headers, which clang 14 compiles only as C++17 (conversion/pdf).
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        set_source_files_properties(${_fuzz_dir}/FuzzCalculator.cpp ${_fuzz_dir}/FuzzImageStream.cpp
            TARGET_DIRECTORY fuzztargets PROPERTIES COMPILE_OPTIONS -std=c++17)
    endif()
endif()
