# wendrix_link_start_functions(<target> <list>)
#
# Links the program <target> with the GNU linker, its relative relocations
# packed (DT_RELR: the table the loader reads at every start, and keeps
# mapped, shrinks to a few KB), and the linker's usual script with the C
# runtime's start code, the static constructors and the functions whose
# sections <list> names (one a line, "#" lines aside) put first in the text.
# A program keeps in memory the code it ran once, and the kernel maps text 64
# KB around each page run: gathered, the code a program runs from its start to
# idle takes a fraction of the memory it takes spread over the whole text.
# Sections the list names that no longer exist are ignored; functions missing
# from it lie where the linker puts them anyway.
include(CheckLinkerFlag)

function(wendrix_link_start_functions target list)
  check_linker_flag(CXX "-fuse-ld=bfd;LINKER:-z,pack-relative-relocs" WENDRIX_BFD_RELR)
  if(NOT WENDRIX_BFD_RELR)
    return()
  endif()
  target_link_options(${target} PRIVATE -fuse-ld=bfd LINKER:-z,pack-relative-relocs)

  # The usual script, as the linker prints it between two rules of "=".
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -fuse-ld=bfd -Wl,--verbose
                          -Wl,-z,pack-relative-relocs -x c++ /dev/null -o /dev/null
                  OUTPUT_VARIABLE says ERROR_QUIET)
  string(REPEAT "=" 50 bar)
  set(first "    *(.text.unlikely .text.*_unlikely .text.unlikely.*)")
  string(FIND "${says}" "${bar}\n" from)
  string(FIND "${says}" "\n${bar}" to REVERSE)
  string(FIND "${says}" "${first}" at)
  if(from EQUAL -1 OR NOT to GREATER from OR NOT at GREATER from)
    message(STATUS "${target}: the linker's script is not the expected one; text left in order")
    return()
  endif()
  string(LENGTH "${bar}\n" skip)
  math(EXPR from "${from} + ${skip}")
  math(EXPR length "${to} - ${from}")
  string(SUBSTRING "${says}" ${from} ${length} script)

  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  file(STRINGS ${list} sections REGEX "^[^#]")
  list(TRANSFORM sections REPLACE "^(.+)$" "    *(.text.\\1)")
  list(JOIN sections "\n" sections)
  string(JOIN "\n" front "    *crt1.o(.text)" "    *crtbegin*.o(.text)"
         "    *(.text.startup .text.startup.*)" "${sections}" "${first}")
  string(REPLACE "${first}" "${front}" script "${script}")
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}.ld)
  file(CONFIGURE OUTPUT ${output} CONTENT "${script}\n" @ONLY)
  target_link_options(${target} PRIVATE LINKER:-T,${output})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${output})
endfunction()
