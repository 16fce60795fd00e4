# The setup, kbdQelvo-setup.exe, for each machine (sub-builds of installer/
# with the program toolchains, carrying the images of cmake/images.cmake), and
# the list of files the release bundle holds, for scripts/package. Included by
# the host build and by the release-only build (cmake/release.cmake).
if(NOT COMMAND kbd_add_windows_program)
    include(${CMAKE_CURRENT_LIST_DIR}/host-windows-programs.cmake)
endif()

# Signing (scripts/package --sign): with a certificate and its key, each image
# is signed before a setup carries it, then each setup is signed; the bundle
# holds the signed files. Without them (the default) nothing is signed.
set(KBD_SIGN_CERT "" CACHE FILEPATH "Certificate chain (PEM) to sign the images and setups with; empty: unsigned")
set(KBD_SIGN_KEY  "" CACHE FILEPATH "The certificate's private key (PEM)")
set(embedded_images images)
foreach(kind IN LISTS KBD_IMAGE_KINDS)
    string(TOUPPER ${kind} KIND)
    set(KBD_EMBED_IMAGE_${KIND} ${KBD_IMAGE_${KIND}})
endforeach()
if(KBD_SIGN_CERT OR KBD_SIGN_KEY)
    if(NOT KBD_SIGN_CERT OR NOT KBD_SIGN_KEY)
        message(FATAL_ERROR "Signing needs both KBD_SIGN_CERT and KBD_SIGN_KEY")
    endif()
    set(signed)
    foreach(kind IN LISTS KBD_IMAGE_KINDS)
        string(TOUPPER ${kind} KIND)
        set(KBD_EMBED_IMAGE_${KIND} ${CMAKE_BINARY_DIR}/signed/images/${kind}/kbdQelvo.dll)
        add_custom_command(OUTPUT ${KBD_EMBED_IMAGE_${KIND}}
            COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign ${KBD_SIGN_CERT} ${KBD_SIGN_KEY}
                    ${KBD_IMAGE_${KIND}} ${KBD_EMBED_IMAGE_${KIND}}
            DEPENDS images ${KBD_IMAGE_${KIND}} ${KBD_SIGN_CERT} ${KBD_SIGN_KEY}
            VERBATIM)
        list(APPEND signed ${KBD_EMBED_IMAGE_${KIND}})
    endforeach()
    add_custom_target(signed-images DEPENDS ${signed})
    set(embedded_images signed-images)
endif()

set(KBD_SETUP_MACHINES x86 x64 arm64)
foreach(machine IN LISTS KBD_SETUP_MACHINES)
    string(TOUPPER ${machine} MACHINE)
    set(KBD_SETUP_${MACHINE} ${CMAKE_BINARY_DIR}/setup-${machine}/kbdQelvo-setup.exe)
    ExternalProject_Add(setup-${machine}
        SOURCE_DIR       ${CMAKE_SOURCE_DIR}/installer
        BINARY_DIR       ${CMAKE_BINARY_DIR}/setup-${machine}
        CMAKE_ARGS       -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${KBD_PROGRAM_TOOLCHAIN_${machine}}.cmake
                         -DCMAKE_BUILD_TYPE=Release
                         -DKBD_VERSION=${PROJECT_VERSION}
                         -DKBD_IMAGE_X86=${KBD_EMBED_IMAGE_X86}
                         -DKBD_IMAGE_X64=${KBD_EMBED_IMAGE_X64}
                         -DKBD_IMAGE_ARM64=${KBD_EMBED_IMAGE_ARM64}
                         -DKBD_IMAGE_WOW64=${KBD_EMBED_IMAGE_WOW64}
        INSTALL_COMMAND  ""
        BUILD_ALWAYS     ON
        BUILD_BYPRODUCTS ${KBD_SETUP_${MACHINE}}
        DEPENDS          ${embedded_images}
    )
    set(KBD_BUNDLE_SETUP_${MACHINE} ${KBD_SETUP_${MACHINE}})
    if(KBD_SIGN_CERT)
        set(KBD_BUNDLE_SETUP_${MACHINE} ${CMAKE_BINARY_DIR}/signed/kbdQelvo-setup-${machine}.exe)
        add_custom_command(OUTPUT ${KBD_BUNDLE_SETUP_${MACHINE}}
            COMMAND ${CMAKE_SOURCE_DIR}/scripts/sign ${KBD_SIGN_CERT} ${KBD_SIGN_KEY}
                    ${KBD_SETUP_${MACHINE}} ${KBD_BUNDLE_SETUP_${MACHINE}}
            DEPENDS setup-${machine} ${KBD_SETUP_${MACHINE}} ${KBD_SIGN_CERT} ${KBD_SIGN_KEY}
            VERBATIM)
        add_custom_target(signed-setup-${machine} ALL DEPENDS ${KBD_BUNDLE_SETUP_${MACHINE}})
    endif()
endforeach()
add_custom_target(setups DEPENDS setup-x86 setup-x64 setup-arm64)

# For kbdtool build --setup: where each setup's link recipe is, which links
# the same program again with another layout's identity and images.
# The triple comes from the machine's toolchain file, read in a function's
# scope so that nothing it sets reaches the host build.
function(kbd_setup_machine_row machine out)
    include(${CMAKE_SOURCE_DIR}/cmake/toolchains/${KBD_PROGRAM_TOOLCHAIN_${machine}}.cmake)
    set(${out} "    {\"${machine}\", \"${KBD_PROGRAM_TRIPLE}\", \"${CMAKE_BINARY_DIR}/setup-${machine}/setup-link.txt\"},\n"
        PARENT_SCOPE)
endfunction()
set(KBD_SETUP_MACHINE_ROWS "")
foreach(machine IN LISTS KBD_SETUP_MACHINES)
    kbd_setup_machine_row(${machine} row)
    string(APPEND KBD_SETUP_MACHINE_ROWS "${row}")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/src/kbd/build/setup_rules.h.in
               ${CMAKE_BINARY_DIR}/generated/kbd/build/setup_rules.h @ONLY)

# ---- The release bundle's contents ----------------------------------------------
# One line per file: its name in the zip, a tab, the file it comes from.
# scripts/package reads this list and the version line.
# "identity": what the setups carry (the x64 one's; all three are the same),
# which the winget manifest describes; not in the zip.
set(bundle "version\t${PROJECT_VERSION}\n")
string(APPEND bundle "identity\t${CMAKE_BINARY_DIR}/setup-x64/identity.txt\n")
# The README says whether the files are signed.
if(KBD_SIGN_CERT)
    set(KBD_BUNDLE_SIGNATURE [=[The setups and the layout files are signed (Authenticode): the prompt names
the publisher of the signing certificate. Until that certificate has earned a
reputation, Microsoft Defender SmartScreen may still say "Windows protected
your PC": choose "More info", check the publisher, then "Run anyway".]=])
else()
    set(KBD_BUNDLE_SIGNATURE [=[The setup is not signed, so Microsoft Defender SmartScreen may say "Windows
protected your PC": choose "More info", then "Run anyway".]=])
endif()
configure_file(${CMAKE_SOURCE_DIR}/installer/bundle-README.txt.in ${CMAKE_BINARY_DIR}/bundle-README.txt @ONLY)
string(APPEND bundle "README.txt\t${CMAKE_BINARY_DIR}/bundle-README.txt\n")
foreach(machine IN LISTS KBD_SETUP_MACHINES)
    string(TOUPPER ${machine} MACHINE)
    string(APPEND bundle "kbdQelvo-setup-${machine}.exe\t${KBD_BUNDLE_SETUP_${MACHINE}}\n")
endforeach()
foreach(kind IN LISTS KBD_IMAGE_KINDS)
    string(TOUPPER ${kind} KIND)
    string(APPEND bundle "images/${kind}/kbdQelvo.dll\t${KBD_EMBED_IMAGE_${KIND}}\n")
endforeach()
file(GLOB pictures RELATIVE ${CMAKE_SOURCE_DIR}/docs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.svg)
list(SORT pictures)
foreach(picture IN LISTS pictures)
    string(APPEND bundle "pictures/${picture}\t${CMAKE_SOURCE_DIR}/docs/${picture}\n")
endforeach()
file(GLOB_RECURSE linux RELATIVE ${CMAKE_SOURCE_DIR}/docs/linux CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/linux/*)
list(SORT linux)
foreach(file IN LISTS linux)
    string(APPEND bundle "linux/${file}\t${CMAKE_SOURCE_DIR}/docs/linux/${file}\n")
endforeach()
file(GLOB_RECURSE macos RELATIVE ${CMAKE_SOURCE_DIR}/docs/macos CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/macos/*)
list(SORT macos)
foreach(file IN LISTS macos)
    string(APPEND bundle "macos/${file}\t${CMAKE_SOURCE_DIR}/docs/macos/${file}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/bundle.txt "${bundle}")
set(KBD_BUNDLE_LIST ${CMAKE_BINARY_DIR}/bundle.txt)

# ---- Tests of the setups ------------------------------------------------------------
if(KBD_BUILD_TESTS AND TARGET kbd_tests)
    # tests/setup/setup_test.cpp reads the three setups with LLVM's COFF reader.
    target_compile_definitions(kbd_tests PRIVATE
        KBD_SETUP_X86_PATH="${KBD_SETUP_X86}"
        KBD_SETUP_X64_PATH="${KBD_SETUP_X64}"
        KBD_SETUP_ARM64_PATH="${KBD_SETUP_ARM64}")
    target_include_directories(kbd_tests SYSTEM PRIVATE ${LLVM_INCLUDE_DIRS})
    target_link_libraries(kbd_tests PRIVATE ${KBD_LLVM_LIBS})
    add_dependencies(kbd_tests setups)

    # Install, install again, uninstall and a failed install of the x64 setup
    # in the build's Wine prefix, filled with a registry like a Windows machine's.
    if(KBD_WINE_TESTS)
        if(NOT COMMAND kbd_add_wine_test)
            include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
        endif()
        # Wine has no input.dll: a recording stand-in takes its place; two more
        # stand-ins name another user as the session's and hold a file open.
        kbd_add_windows_program(setup-standins-x64 SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/setup/standins
                                MACHINE x64 PROGRAM input.dll)
        get_filename_component(standins ${setup-standins-x64_PATH} DIRECTORY)
        add_dependencies(kbd_tests setup-standins-x64)
        # Another layout's setups as a layout author makes them with kbdtool
        # build --setup, installed beside ours in the same test: a test layout
        # exported as a .klc and built from it (version 1.0.0.0, all a .klc's
        # VERSION says), and built from its image (1.0.3.40, the image's
        # version block), which upgrades the first.
        set(generated ${CMAKE_BINARY_DIR}/generated-setup)
        set(fixture ${CMAKE_BINARY_DIR}/fixtures-x64/sgcaps.dll)
        set(fixture_sources sgcaps.cpp common.cpp common.h version.rc layout.def CMakeLists.txt)
        list(TRANSFORM fixture_sources PREPEND ${CMAKE_SOURCE_DIR}/tests/fixtures/)
        add_custom_command(
            OUTPUT  ${generated}/1.0/sgcaps-setup-x64.exe ${generated}/1.0.3.40/sgcaps-setup-x64.exe
            COMMAND ${CMAKE_COMMAND} -E rm -rf ${generated}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
            COMMAND kbdtool export --klc ${generated}/sgcaps.klc ${fixture}
            COMMAND kbdtool build ${generated}/sgcaps.klc --setup --out ${generated}/1.0
            COMMAND kbdtool build ${fixture} --setup --out ${generated}/1.0.3.40
            DEPENDS kbdtool ${fixture_sources} ${KBD_SETUP_X86} ${KBD_SETUP_X64} ${KBD_SETUP_ARM64}
                    ${CMAKE_SOURCE_DIR}/installer/setup.rc.in ${CMAKE_SOURCE_DIR}/installer/identity.txt.in
                    ${CMAKE_SOURCE_DIR}/installer/setup.manifest
            COMMENT "kbdtool build --setup for the test layout sgcaps (.klc and image)"
            VERBATIM)
        add_custom_target(generated-setup ALL
            DEPENDS ${generated}/1.0/sgcaps-setup-x64.exe ${generated}/1.0.3.40/sgcaps-setup-x64.exe)
        # The fixture's sub-build always runs (its stamp is always new), so
        # the command depends on the fixture's sources, and on the sub-build
        # only for its order.
        add_dependencies(generated-setup fixtures-x64 setups)
        kbd_add_wine_test(NAME Setup.WineInstallUpgradeUninstall TIMEOUT 600
            COMMAND ${CMAKE_SOURCE_DIR}/tests/setup/wine_setup_test.sh
                    ${KBD_SETUP_X64} ${KBD_IMAGE_X64} ${KBD_IMAGE_WOW64}
                    ${CMAKE_SOURCE_DIR}/tests/setup/fixture.reg ${CMAKE_BINARY_DIR}/setup-wine-test
                    ${standins} ${CMAKE_BINARY_DIR}/setup-x64/identity.txt ${KBD_SETUP_X86} ${KBD_SETUP_ARM64}
                    ${generated})
    endif()

    # Two bundles made from the same build are the same bytes, and hold what
    # a user needs.
    add_test(NAME Setup.BundleIsReproducible
        COMMAND ${CMAKE_SOURCE_DIR}/tests/setup/bundle_test.sh ${CMAKE_SOURCE_DIR}/scripts/package
                ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/bundle-test)
    set_tests_properties(Setup.BundleIsReproducible PROPERTIES TIMEOUT 120)

    # The winget manifest written beside the bundle is valid against winget's
    # schemas (kept in packaging/winget-schemas).
    add_test(NAME Setup.WingetManifestIsValid
        COMMAND bash -c "\"$0\" --from \"$1\" --out \"$2\" >/dev/null && \"$3\" \"$2/winget/$4\""
                ${CMAKE_SOURCE_DIR}/scripts/package ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/winget-test
                ${CMAKE_SOURCE_DIR}/scripts/winget-check ${PROJECT_VERSION})
    set_tests_properties(Setup.WingetManifestIsValid PROPERTIES TIMEOUT 60)

    # scripts/package --sign as a release is signed (its own release build of
    # the images and setups, about a minute), with a throwaway certificate.
    add_test(NAME Setup.SignedPackageVerifiesAndIsReproducible
        COMMAND ${CMAKE_SOURCE_DIR}/tests/setup/signed_package_test.sh ${CMAKE_SOURCE_DIR}/scripts/package
                ${CMAKE_BINARY_DIR}/signed-package-test)
    set_tests_properties(Setup.SignedPackageVerifiesAndIsReproducible PROPERTIES TIMEOUT 600
        ENVIRONMENT CMAKE_BUILD_PARALLEL_LEVEL=2)
endif()
