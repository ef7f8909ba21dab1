# `cpack -G DEB` in the build folder: oculara_<version>_<arch>.deb with the
# installed program only (the `oculara` install component; tests and
# benchmarks have no install rules).

set(CPACK_PACKAGE_NAME oculara)
set(CPACK_PACKAGE_VENDOR "Oculara developers")
set(CPACK_PACKAGE_CONTACT "Oculara developers <oculara@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "surveillance alarm with a webcam and a microphone")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Oculara;oculara;/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME oculara)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Oculara developers <oculara@localhost>")
set(CPACK_PACKAGE_DESCRIPTION "Oculara turns a PC with a webcam and a microphone into a surveillance alarm.
It calibrates itself to the noise of each device and watches for suspicious
movements and noises. When enough of them fall within a short time it reacts
with the alarms switched on: an alarm sound, an SMS through an HTTP gateway,
an e-mail with the camera frame, a video recording, a photo or the start of a
program. Every event is listed in its window and in a log file.
.
The program's own texts are Italian.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by name at run time, so the library scan cannot see them: the
# capture and sound elements, the sound outputs, the video decoders, the
# browser for the help pages and the authorities that mail servers'
# certificates are checked against.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-alsa, gstreamer1.0-pulseaudio, gstreamer1.0-libav, xdg-utils, ca-certificates")

include(CPack)
