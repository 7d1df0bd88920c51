# Client code for the Wayland protocols the saver, its tests and its benchmark speak, generated
# at build time by wayland-scanner from the XML that Debian ships: xdg-shell, viewporter and
# xdg-output from wayland-protocols, the wlr protocols (layer shell, screencopy, virtual pointer) from
# librust-wayland-protocols-dev, the only Debian 12 package that carries them; ext-idle-notify
# and idle-inhibit from wayland-protocols and KWin's older idle protocol from
# plasma-wayland-protocols, for the idle watcher and its tests.

find_package(PkgConfig REQUIRED)
pkg_check_modules(WaylandClient REQUIRED IMPORTED_TARGET wayland-client)
pkg_check_modules(XkbCommon REQUIRED IMPORTED_TARGET xkbcommon)
# KWin's screenshot interface and the screenshot portal on the session bus, through sd-bus.
pkg_check_modules(SdBus REQUIRED IMPORTED_TARGET libsystemd)
# The screenshot portal's pictures are PNG files.
find_package(PNG REQUIRED)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_PROTOCOLS_DIR)
    message(FATAL_ERROR "wayland-protocols is missing (scripts/setup installs it)")
endif()
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

# Any packaged version will do; the newest if there are several.
file(GLOB wlr_protocol_dirs
     /usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable)
list(SORT wlr_protocol_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET wlr_protocol_dirs 0 WLR_PROTOCOLS_DIR)
if(NOT WLR_PROTOCOLS_DIR OR NOT EXISTS ${WLR_PROTOCOLS_DIR}/wlr-layer-shell-unstable-v1.xml)
    message(FATAL_ERROR "the wlr protocol XML is missing: install librust-wayland-protocols-dev "
                        "(scripts/setup does)")
endif()

set(PLASMA_IDLE_XML /usr/share/plasma-wayland-protocols/idle.xml)
if(NOT EXISTS ${PLASMA_IDLE_XML})
    message(FATAL_ERROR "org_kde_kwin_idle's XML is missing: install plasma-wayland-protocols "
                        "(scripts/setup does)")
endif()

set(protocol_xml
    ${WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml
    ${WAYLAND_PROTOCOLS_DIR}/stable/viewporter/viewporter.xml
    ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output/xdg-output-unstable-v1.xml
    ${WLR_PROTOCOLS_DIR}/wlr-layer-shell-unstable-v1.xml
    ${WLR_PROTOCOLS_DIR}/wlr-screencopy-unstable-v1.xml
    ${WLR_PROTOCOLS_DIR}/wlr-virtual-pointer-unstable-v1.xml
    ${WAYLAND_PROTOCOLS_DIR}/staging/ext-idle-notify/ext-idle-notify-v1.xml
    ${WAYLAND_PROTOCOLS_DIR}/unstable/idle-inhibit/idle-inhibit-unstable-v1.xml
    ${PLASMA_IDLE_XML})

set(protocol_out ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${protocol_out})
set(protocol_sources)
foreach(xml IN LISTS protocol_xml)
    get_filename_component(name ${xml} NAME_WE)
    add_custom_command(
        OUTPUT ${protocol_out}/${name}-client-protocol.h ${protocol_out}/${name}-protocol.c
        COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${protocol_out}/${name}-client-protocol.h
        COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${protocol_out}/${name}-protocol.c
        DEPENDS ${xml}
        VERBATIM)
    list(APPEND protocol_sources ${protocol_out}/${name}-client-protocol.h
                                 ${protocol_out}/${name}-protocol.c)
endforeach()

add_library(zorblinth_wayland_protocols STATIC ${protocol_sources})
target_include_directories(zorblinth_wayland_protocols PUBLIC ${protocol_out})
target_link_libraries(zorblinth_wayland_protocols PUBLIC PkgConfig::WaylandClient)
