# Run by CPack on the staged files: strips the program as Debian's own tools do, the notes and
# compiler comments included.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/peertest")
foreach(program ${programs})
  execute_process(
    COMMAND ${CPACK_PEERTEST_STRIP} --strip-unneeded --remove-section=.comment
            --remove-section=.note ${program}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
