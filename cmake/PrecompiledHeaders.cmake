# Shared precompiled headers.
#
# Nearly every file here includes Qt, the standard library and, in the tests,
# GoogleTest. Parsing those headers is most of each file's compile time (about
# two thirds, four fifths in a small file), and the test command builds the tree
# three times with GCC. So every target that links Qt reuses one precompiled
# header, made once per build tree for its kind of target: Qt Core or Qt Widgets,
# with or without GoogleTest. Targets without Qt build as before.
#
# GCC checks that a precompiled header suits each file (flags, macros the headers
# look at) and warns with -Winvalid-pch when it does not, so a mismatch shows in
# the build's output rather than as a silent slowdown. That check is GCC's, so
# only GCC trees use them; the fuzz tree (clang, and the smallest) builds
# without. KAVREL_PCH=OFF builds without them, which is how to check that a
# file includes what it uses.
option(KAVREL_PCH "Reuse precompiled Qt, standard and test headers across targets" ON)

set(_kavrel_pch_std
    <algorithm> <array> <atomic> <chrono> <condition_variable> <cstddef> <cstdint>
    <cstdio> <cstdlib> <cstring> <deque> <filesystem> <functional> <map> <memory>
    <mutex> <optional> <span> <string> <string_view> <thread> <utility> <vector>)
set(_kavrel_pch_core
    <QByteArray> <QCoreApplication> <QDir> <QElapsedTimer> <QFile> <QMetaObject>
    <QObject> <QPointer> <QString> <QStringList> <QTimer>)
set(_kavrel_pch_widgets <QApplication> <QImage> <QMenu> <QPainter> <QScreen> <QWidget>)
set(_kavrel_pch_test <gtest/gtest.h> <gmock/gmock.h>)

# Every target that target links, directly or through others, by name.
function(_kavrel_link_closure target out)
    set(seen "")
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue t)
        if(t IN_LIST seen OR NOT TARGET ${t})
            continue()
        endif()
        list(APPEND seen ${t})
        get_target_property(type ${t} TYPE)
        set(links "")
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(direct ${t} LINK_LIBRARIES)
            if(direct)
                list(APPEND links ${direct})
            endif()
        endif()
        get_target_property(interface ${t} INTERFACE_LINK_LIBRARIES)
        if(interface)
            list(APPEND links ${interface})
        endif()
        foreach(link ${links})
            if(link MATCHES "^\\$<LINK_ONLY:([^$<>]+)>$")
                list(APPEND queue ${CMAKE_MATCH_1})
            elseif(NOT link MATCHES "\\$<")
                list(APPEND queue ${link})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(_kavrel_directory_targets dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub ${subdirs})
        _kavrel_directory_targets(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The host of one kind's header: an object library of one empty file, linked
# like the targets that reuse it, so its flags and macros are theirs.
function(_kavrel_pch_host kind out)
    set(host kavrel_pch_${kind})
    if(NOT TARGET ${host})
        set(source ${CMAKE_BINARY_DIR}/pch/${kind}.cpp)
        file(WRITE ${source} "// The host of a shared precompiled header.\n")
        add_library(${host} OBJECT ${source})
        set(headers ${_kavrel_pch_std} ${_kavrel_pch_core})
        target_link_libraries(${host} PRIVATE Qt6::Core)
        if(kind MATCHES "widgets")
            list(APPEND headers ${_kavrel_pch_widgets})
            target_link_libraries(${host} PRIVATE Qt6::Widgets)
        endif()
        if(kind MATCHES "test")
            list(APPEND headers ${_kavrel_pch_test})
            target_link_libraries(${host} PRIVATE GTest::gtest GTest::gmock)
        endif()
        target_precompile_headers(${host} PRIVATE ${headers})
    endif()
    set(${out} ${host} PARENT_SCOPE)
endfunction()

# Called once every target exists.
function(kavrel_precompile_headers)
    if(NOT KAVREL_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        return()
    endif()
    _kavrel_directory_targets(${CMAKE_SOURCE_DIR} targets)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        if(NOT sources MATCHES "\\.cpp(;|$)")
            continue()
        endif()
        _kavrel_link_closure(${target} links)
        if(NOT "Qt6::Core" IN_LIST links)
            continue()
        endif()
        set(kind core)
        if("Qt6::Widgets" IN_LIST links)
            set(kind widgets)
        endif()
        if("GTest::gtest" IN_LIST links)
            string(APPEND kind _test)
        endif()
        _kavrel_pch_host(${kind} host)
        target_precompile_headers(${target} REUSE_FROM ${host})
    endforeach()
endfunction()
