# The systemd user units that keep an unattended logger running, the instance being the port
# (peertest-udp@50000): configured into <build>/systemd for installing and for the tests.
include(GNUInstallDirs)

set(PEERTEST_UNIT_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/peertest)
# A program that logs beside itself would log into the install's bin/; the unit logs where the
# packaged program does.
if(PEERTEST_LOG_IN_USER_DATA)
  set(PEERTEST_UNIT_LOG_DIR "")
else()
  set(PEERTEST_UNIT_LOG_DIR "Environment=PEERTEST_LOG_DIR=%h/.local/share/peertest\n")
endif()

set(PEERTEST_UNIT_FOLDER ${PROJECT_BINARY_DIR}/systemd)
set(PEERTEST_UNIT_FILES)
foreach(mode udp tcp)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/peertest-${mode}@.service.in
                 ${PEERTEST_UNIT_FOLDER}/peertest-${mode}@.service @ONLY)
  list(APPEND PEERTEST_UNIT_FILES ${PEERTEST_UNIT_FOLDER}/peertest-${mode}@.service)
endforeach()
