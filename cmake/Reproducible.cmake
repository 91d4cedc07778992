# Reproducible Windows builds: the same commit gives a byte-identical exe
# whatever folder it is built in and whenever, so anyone can rebuild a
# release and compare its SHA-256 with the published one.
#
# The PE header's time stamp is the commit time: SOURCE_DATE_EPOCH from the
# environment if set (a source copy without .git), else the last commit's
# time, read at configure time. Without either the stamp is left out (0).

if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()

set(corvane_source_date_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(corvane_source_date_epoch STREQUAL "" AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE corvane_source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # Every commit or checkout appends here: configure again so the stamp
    # follows the commit being built rather than the one configured first.
    if(EXISTS ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
    endif()
  endif()
endif()
if(corvane_source_date_epoch MATCHES "^[0-9]+$")
  # ld stamps PE files with SOURCE_DATE_EPOCH when it is in its environment;
  # the launcher puts it there for every link whatever shell runs the build.
  set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK
    "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${corvane_source_date_epoch}")
else()
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# No absolute folder names in the objects (__FILE__ in assertions, debug
# information before stripping). The build folder usually sits inside the
# source folder; gcc takes the last matching map, so it is given last.
# windres takes no such option, hence C and C++ only.
set(corvane_prefix_maps -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
  -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${corvane_prefix_maps}>")

# Archives without owners, modes or times (ar D, ranlib -D), so the static
# libraries are identical too and nothing time-dependent feeds the link.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
