# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack after it installed (and stripped) the package's files into its staging folder: removes
# the sections that Debian's own packaging removes from every program (.comment and .note).
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program ${programs})
  execute_process(COMMAND ${CPACK_CORVANE_STRIP} --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
