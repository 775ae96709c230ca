# Images, documents and mixed files to PDF: pages and outlines through qpdf, documents laid out
# in the helper program (conversionLayout below), text decoded with uchardet.
pkg_check_modules(TOPDF REQUIRED IMPORTED_TARGET GLOBAL libqpdf uchardet libplist-2.0 poppler-cpp)
target_sources(conversion PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ChildProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChildProcess.h
    ${CMAKE_CURRENT_LIST_DIR}/DocumentAnchors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentAnchors.h
    ${CMAKE_CURRENT_LIST_DIR}/DocumentLayout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentLayout.h
    ${CMAKE_CURRENT_LIST_DIR}/DocumentLayoutHelper.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentsToPDFJob.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentsToPDFJob.h
    ${CMAKE_CURRENT_LIST_DIR}/GlyphsBeyondTheBMP.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GlyphsBeyondTheBMP.h
    ${CMAKE_CURRENT_LIST_DIR}/ImagesToPDFJob.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImagesToPDFJob.h
    ${CMAKE_CURRENT_LIST_DIR}/MergedDocumentParts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MergedDocumentParts.h
    ${CMAKE_CURRENT_LIST_DIR}/MergedPDFDocument.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MergedPDFDocument.h
    ${CMAKE_CURRENT_LIST_DIR}/TakeTurnsFileSource.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TakeTurnsFileSource.h
    ${CMAKE_CURRENT_LIST_DIR}/MergeFilesJob.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MergeFilesJob.h
    ${CMAKE_CURRENT_LIST_DIR}/PDFDocumentWriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PDFDocumentWriter.h
    ${CMAKE_CURRENT_LIST_DIR}/ToPDFEntries.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ToPDFRunChecks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ToPDFRunChecks.h
    ${CMAKE_CURRENT_LIST_DIR}/TypedCharacters.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TypedCharacters.h)
target_link_libraries(conversion PUBLIC PkgConfig::TOPDF)

# The document layout: Qt's text document painted onto QPdfWriter, web archives read with libplist.
# The one part that needs Qt's GUI module; linked into the helper program (and the tests that lay
# out in process), which make the QGuiApplication it needs.
find_package(Qt6 6.4 REQUIRED COMPONENTS Gui GLOBAL)
add_library(conversionLayout STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DocumentPainting.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentResources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentResources.h
    ${CMAKE_CURRENT_LIST_DIR}/DocumentText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentText.h
    ${CMAKE_CURRENT_LIST_DIR}/WideContentFit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WideContentFit.h)
target_include_directories(conversionLayout PRIVATE ${CMAKE_CURRENT_LIST_DIR}
    ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(conversionLayout PUBLIC conversion Qt6::Gui PRIVATE PkgConfig::TOPDF)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set_target_properties(conversionLayout PROPERTIES CXX_STANDARD 17)
endif()
