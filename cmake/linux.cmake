# Linux: our termios serial back-end and the Qt 6 Widgets shell.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)

add_library(vkt5_serial_posix STATIC
    serial/posix_lock_file.cpp
    serial/posix_modem_lines.cpp
    serial/posix_port_map.cpp
    serial/serial_port_posix.cpp
)
target_link_libraries(vkt5_serial_posix PUBLIC vkt5_core PRIVATE vkt5_warnings)

# The Qt host of the dialog.
add_library(vkt5_ui_qt STATIC
    ui/qt/qt_main_dialog.cpp
)
set_target_properties(vkt5_ui_qt PROPERTIES AUTOMOC ON)
target_link_libraries(vkt5_ui_qt PUBLIC vkt5_core Qt6::Widgets PRIVATE vkt5_warnings)

qt_add_executable(vkt5-upgrade app/main_qt.cpp)
qt_add_resources(vkt5-upgrade carried_files
    PREFIX "/"
    BASE resources
    FILES
        resources/vkt5_firmware.hex
        resources/vkt5_logo.bmp
        resources/vkt5_icon.ico
)
target_link_libraries(vkt5-upgrade PRIVATE vkt5_ui_qt vkt5_serial_posix vkt5_warnings)

# The command line. Its carried image is compiled in, so that it needs neither Qt nor a file
# beside it.
set(VKT5_CLI_IMAGE_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/generated/cli_carried_image.cpp)
add_custom_command(OUTPUT ${VKT5_CLI_IMAGE_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${VKT5_IMAGE_FILE} -DOUTPUT=${VKT5_CLI_IMAGE_SOURCE}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_file.cmake
    DEPENDS ${VKT5_IMAGE_FILE} ${CMAKE_CURRENT_SOURCE_DIR}/cmake/embed_file.cmake
    COMMENT "Embedding the carried firmware image")
add_executable(vkt5-upgrade-cli
    cli/cli_platform_posix.cpp
    cli/main_cli_posix.cpp
    ${VKT5_CLI_IMAGE_SOURCE}
)
target_include_directories(vkt5-upgrade-cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vkt5-upgrade-cli PRIVATE vkt5_cli vkt5_serial_posix vkt5_warnings)

# Benchmarks of the Linux build (scripts/run-benchmarks).
add_subdirectory(bench)

include(cmake/packaging.cmake)
