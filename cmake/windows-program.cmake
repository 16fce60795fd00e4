# Builds a small Windows program without a C runtime. Included by the
# CMakeLists.txt of a program's own folder, configured with one of
# cmake/toolchains/{i686,x86_64,aarch64}-windows-program.cmake:
#
#   kbd_windows_program(NAME SOURCES a.cpp b.cpp
#                       IMPORTS kernel32.def version.def
#                       [ENTRY start] [SUBSYSTEM console|windows])
#
# SOURCES may include resource scripts (.rc, with `project(... LANGUAGES CXX RC)`).
#
# ENTRY is an `extern "C"` function taking nothing that ends the process
# (ExitProcess); it defaults to `start`. Each IMPORTS file is a module
# definition listing the functions the program calls from one system DLL:
#
#   LIBRARY kernel32.dll
#   EXPORTS
#   ExitProcess@4
#
# Names carry their x86 stdcall decoration (@ and the bytes of arguments),
# which the 64-bit machines drop; the import library is made from the file by
# llvm-dlltool for the toolchain's machine. The program links with lld-link
# against those libraries only.

set(KBD_WINDOWS_PROGRAM_DIR ${CMAKE_CURRENT_LIST_DIR})

if(NOT KBD_PROGRAM_MACHINE)
    message(FATAL_ERROR "Configure with a cmake/toolchains/*-windows-program.cmake toolchain file")
endif()
set(KBD_DLLTOOL_MACHINE_x86   i386)
set(KBD_DLLTOOL_MACHINE_x64   i386:x86-64)
set(KBD_DLLTOOL_MACHINE_arm64 arm64)

# The link is lld-link's own, with nothing CMake would add for a C runtime
# or a desktop program.
# KBD_PROGRAM_LINK_OPTIONS are also the start of the link line a program's
# link recipe records (kbd_windows_program_recipe).
set(KBD_PROGRAM_LINK_OPTIONS /nologo /nodefaultlib /machine:${KBD_PROGRAM_MACHINE} /timestamp:0)
list(JOIN KBD_PROGRAM_LINK_OPTIONS " " link_options)
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_LINKER> ${link_options} <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> /out:<TARGET>")

# An import library for one .def file: ${out} names the library.
function(kbd_import_library def out)
    get_filename_component(def ${def} ABSOLUTE)
    get_filename_component(stem ${def} NAME_WE)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/imports)
    set(lib ${dir}/${stem}.lib)
    # Programs of one folder share the libraries of the .def files they share.
    get_property(made DIRECTORY PROPERTY KBD_IMPORT_LIBRARIES)
    set(${out} ${lib} PARENT_SCOPE)
    if(lib IN_LIST made)
        return()
    endif()
    set_property(DIRECTORY APPEND PROPERTY KBD_IMPORT_LIBRARIES ${lib})
    set(options -m ${KBD_DLLTOOL_MACHINE_${KBD_PROGRAM_MACHINE}})
    if(KBD_PROGRAM_MACHINE STREQUAL "x86")
        # Objects call _Name@N; the DLL exports Name.
        list(APPEND options -k)
        set(machine_def ${def})
    else()
        file(READ ${def} text)
        string(REGEX REPLACE "@[0-9]+" "" text "${text}")
        set(machine_def ${dir}/${stem}.def)
        file(WRITE ${machine_def} "${text}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    endif()
    add_custom_command(OUTPUT ${lib}
        COMMAND ${KBD_DLLTOOL} ${options} -d ${machine_def} -l ${lib}
        DEPENDS ${def}
        COMMENT "Import library ${stem}.lib for ${KBD_PROGRAM_MACHINE}"
        VERBATIM)
    set(${out} ${lib} PARENT_SCOPE)
endfunction()

function(kbd_windows_program name)
    cmake_parse_arguments(P "" "ENTRY;SUBSYSTEM" "SOURCES;IMPORTS" ${ARGN})
    if(NOT P_ENTRY)
        set(P_ENTRY start)
    endif()
    if(NOT P_SUBSYSTEM)
        set(P_SUBSYSTEM console)
    endif()
    set(libs)
    foreach(def IN LISTS P_IMPORTS)
        kbd_import_library(${def} lib)
        list(APPEND libs ${lib})
    endforeach()
    add_custom_target(${name}-imports DEPENDS ${libs})

    set(runtime ${KBD_WINDOWS_PROGRAM_DIR}/windows-program-runtime.cpp)
    add_executable(${name} ${P_SOURCES} ${runtime})
    set_source_files_properties(${runtime} PROPERTIES COMPILE_OPTIONS -fno-builtin)
    set_target_properties(${name} PROPERTIES
        SUFFIX ".exe"
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    # Sources and resource scripts alike find windows.h here.
    target_include_directories(${name} SYSTEM PRIVATE ${KBD_WINDOWS_HEADERS})
    target_compile_features(${name} PRIVATE cxx_std_20)
    # No exceptions, RTTI, unwind tables or stack cookies: nothing here could
    # serve them. Constructors of globals would never run, so none may exist.
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:
        -O2 -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
        -fno-stack-protector -fno-threadsafe-statics
        -Wall -Wextra -Werror -Wglobal-constructors -Wexit-time-destructors>)
    target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
    target_link_options(${name} PRIVATE /entry:${P_ENTRY} /subsystem:${P_SUBSYSTEM})
    target_link_libraries(${name} PRIVATE ${libs})
    add_dependencies(${name} ${name}-imports)
endfunction()

# Writes FILE, the link line of program NAME without its resources and its
# /out: (the linker's arguments, one a line: options, objects, libraries), so
# that the program can be linked again with other resources by a tool
# (kbdtool) exactly as the build links it.
function(kbd_windows_program_recipe name file)
    set(objects "$<FILTER:$<TARGET_OBJECTS:${name}>,EXCLUDE,\\.res$>")
    set(line "${KBD_PROGRAM_LINK_OPTIONS};$<TARGET_PROPERTY:${name},LINK_OPTIONS>;${objects}")
    string(APPEND line ";$<TARGET_PROPERTY:${name},LINK_LIBRARIES>")
    file(GENERATE OUTPUT ${file} CONTENT "$<JOIN:${line},\n>\n")
endfunction()
