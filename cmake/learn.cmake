# For people learning the layout and people maintaining one: find (which keys
# give a character), diff (two layouts as a person reads them) and html (an
# interactive page). Included from cmake/host.cmake once kbdcore exists.
find_package(ICU REQUIRED COMPONENTS uc)
target_sources(kbdcore PRIVATE
    tools/kbdtool/keyboard.cpp
    tools/kbdtool/charinfo.cpp
    tools/kbdtool/find.cpp
    tools/kbdtool/find_report.cpp
    tools/kbdtool/diff.cpp
)
target_link_libraries(kbdcore PRIVATE ICU::uc)
