# Windows: the Win32 serial back-end and dialog host, and the program with its resources, all
# linked statically so that the executable needs no DLL beyond the system's.
enable_language(RC)

# The MinGW GCC 12 at -O3 also reports a memset past the end of a vector that it has just grown
# (inlined vector::resize): the same family of false positives as above.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(vkt5_warnings INTERFACE -Wno-array-bounds)
endif()

# Every executable of this build, tests included, carries its C++ runtime inside: under Wine (and
# on a user's machine) there is no MinGW runtime to find.
add_link_options(-static)

add_library(vkt5_serial_win32 STATIC serial/serial_port_win32.cpp)
target_link_libraries(vkt5_serial_win32 PUBLIC vkt5_core PRIVATE vkt5_warnings)

add_library(vkt5_ui_win32 STATIC ui/win32/win32_main_dialog.cpp)
target_link_libraries(vkt5_ui_win32 PUBLIC vkt5_core comctl32 gdi32 user32 PRIVATE vkt5_warnings)
target_compile_definitions(vkt5_ui_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_definitions(vkt5_serial_win32 PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

add_executable(vkt5-upgrade WIN32 app/main_win32.cpp cli/carried_image_win32.cpp resources/vkt5.rc)
target_include_directories(vkt5-upgrade PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set_source_files_properties(resources/vkt5.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5_firmware.hex;${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5_icon.ico;${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5_logo.bmp;${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5.manifest")
target_link_libraries(vkt5-upgrade PRIVATE vkt5_ui_win32 vkt5_serial_win32 vkt5_warnings)
target_link_options(vkt5-upgrade PRIVATE -mwindows)

# The command line: a console program, as static as the window's.
add_executable(vkt5-upgrade-cli
    cli/carried_image_win32.cpp
    cli/cli_platform_win32.cpp
    cli/main_cli_win32.cpp
    resources/vkt5-cli.rc
)
target_include_directories(vkt5-upgrade-cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set_source_files_properties(resources/vkt5-cli.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/resources/vkt5_firmware.hex")
target_link_libraries(vkt5-upgrade-cli PRIVATE vkt5_cli vkt5_serial_win32 winmm vkt5_warnings)
target_link_options(vkt5-upgrade-cli PRIVATE -mconsole)

# Tests run the Windows executables under Wine through a wrapper that gives every wine command
# the same prefix, display and quiet settings (see tests/windows/wine_env.sh).
set(VKT5_WINEPREFIX "$ENV{VKT5_WINEPREFIX}" CACHE PATH "Wine prefix for the Windows tests")
if(NOT VKT5_WINEPREFIX)
    set(VKT5_WINEPREFIX "$ENV{HOME}/.vkt5-wine" CACHE PATH "Wine prefix for the Windows tests" FORCE)
endif()
set(VKT5_WINE_DISPLAY "61" CACHE STRING "X display number of the Windows tests' own Xvfb")
set(VKT5_WINE_STATE_DIR "${CMAKE_BINARY_DIR}/wine-session")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/tests/windows/wine_run.sh.in
               ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
