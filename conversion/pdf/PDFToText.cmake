# The PDF-to-text export: text with its fonts through Poppler's text engine (the input is opened
# through poppler-cpp); DOCX and ODT through libzip, Word .doc through LibreOffice headless at
# run time.
pkg_check_modules(PDFTEXT REQUIRED IMPORTED_TARGET GLOBAL poppler-cpp libzip icu-uc)
target_sources(conversion PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DOCXEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LibreOfficeConverter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LibreOfficeConverter.h
    ${CMAKE_CURRENT_LIST_DIR}/LibreOfficeIsolation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LibreOfficeIsolation.h
    ${CMAKE_CURRENT_LIST_DIR}/ODTEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PageFonts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PageFonts.h
    ${CMAKE_CURRENT_LIST_DIR}/PageTextPipeline.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PageTextPipeline.h
    ${CMAKE_CURRENT_LIST_DIR}/PDFPageTextReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PDFPageTextReader.h
    ${CMAKE_CURRENT_LIST_DIR}/PDFToTextJob.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PDFToTextJob.h
    ${CMAKE_CURRENT_LIST_DIR}/PlainTextEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RTFEncoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StyledText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StyledText.h
    ${CMAKE_CURRENT_LIST_DIR}/TextDocumentEncoders.h
    ${CMAKE_CURRENT_LIST_DIR}/VisualLineOrder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VisualLineOrder.h
    ${CMAKE_CURRENT_LIST_DIR}/ZipPackage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZipPackage.h)
target_include_directories(conversion PRIVATE ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
pkg_check_modules(PDFTEXT_POPPLER REQUIRED IMPORTED_TARGET GLOBAL poppler)
target_link_libraries(conversion PUBLIC PkgConfig::PDFTEXT Threads::Threads PRIVATE
    PkgConfig::PDFTEXT_POPPLER popplerglobals)

