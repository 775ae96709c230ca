# Compile and link speed: CI runs three full builds on two cores, and a developer relinks every
# test program after touching a library. Nothing here changes what is built.

# Linking the hundred test programs with GNU ld takes minutes under the sanitizers; lld takes
# seconds. Used when the compiler can drive it.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld LUMENO_HAVE_LLD)
if(LUMENO_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
endif()

# Most sources spend more time parsing Qt, GoogleTest, qpdf and the standard library than
# compiling their own code; each library parses those headers once.
option(LUMENO_PCH "Precompile the headers most sources of a library include" ON)

set(LUMENO_PCH_STANDARD <algorithm> <functional> <map> <memory> <optional> <string> <vector>)
set(LUMENO_PCH_QTCORE <QByteArray> <QHash> <QObject> <QString> <QUrl> ${LUMENO_PCH_STANDARD})
set(LUMENO_PCH_QTWIDGETS <QtWidgets> <QWebEnginePage> <QWebEngineProfile> <QWebEngineView>
    ${LUMENO_PCH_QTCORE})

# lumeno_precompile(TARGET HEADER...): precompiles the headers for the target's sources.
function(lumeno_precompile target)
    if(LUMENO_PCH)
        target_precompile_headers(${target} PRIVATE ${ARGN})
    endif()
endfunction()

# lumeno_reuse_precompiled(TARGET FROM): the target compiles with FROM's precompiled headers
# (the test programs all share the test support's).
function(lumeno_reuse_precompiled target from)
    if(LUMENO_PCH)
        target_precompile_headers(${target} REUSE_FROM ${from})
    endif()
endfunction()
