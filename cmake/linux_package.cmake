# The Debian package of the Linux programs, made by CPack from the install rules
# (tools/package.sh --linux). Its tree is configured with the prefix /usr, so that the autostart
# entry goes to /etc/xdg/autostart (cmake/linux_desktop.cmake).
set(CPACK_GENERATOR DEB)
# The folders the install rules create are 0755 whatever the builder's umask: with umask 002 they
# would be group-writable, which a package must not have. Read when the install rules are
# written, so it holds for every rule of the tree.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_NAME korvanth417)
set(CPACK_PACKAGE_VERSION ${KORV_PACKAGE_UPSTREAM_VERSION})
set(CPACK_PACKAGE_CONTACT "KORVANTH417 monitor maintainers <maintainers@korvanth417.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray monitor of the KORVANTH417 gaming mouse")
# Lines of at most 80 characters, for 80-column terminals.
set(CPACK_PACKAGE_DESCRIPTION
    "The monitor of the KORVANTH417 gaming mouse stays in the panel all session.
It reads the mouse's buttons from its hidraw node: a button given the
microphone mute mutes or unmutes the default microphone of PulseAudio or
PipeWire, and profile switches made on the mouse are recorded and passed on to
the configuration program. Its icon in the panel shows whether the microphone
is muted. It starts at login through an XDG autostart entry.
.
The package also holds the stand-in configuration program korvanth417-config
and the simulated mouse korvanth417-sim, for trying the monitor without the
mouse.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The monitor loads libpulse at run time (its start then waits for no sound library), so
# dpkg-shlibdeps does not see it among the programs' libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpulse0 (>= 1.0)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
# The autostart entry is a conffile: an administrator's edit of it survives upgrades.
file(WRITE ${CMAKE_BINARY_DIR}/generated/debian/conffiles
     "${KORV_AUTOSTART_DIR}/korvanth417-monitor.desktop\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/generated/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
