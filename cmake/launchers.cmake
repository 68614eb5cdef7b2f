# The helpers that make a program of this project, used by dialdialog/,
# cmlaunch/, check/ and bench/. The icon and the version-information template
# they use are the frame's (frame/).

# add_identity(TARGET PROGRAM): gives TARGET the icon and version information
# of PROGRAM, made from the shared template. Its description is the
# launchers' unless the caller sets PROGRAM_DESCRIPTION.
function(add_identity target program)
  set(PROGRAM ${program})
  set(DESCRIPTION "${program} MFC Application")
  if(DEFINED PROGRAM_DESCRIPTION)
    set(DESCRIPTION "${PROGRAM_DESCRIPTION}")
  endif()
  get_target_property(ICON_FILE app_icon ICON_FILE)
  string(REPLACE "." "," VERSION_COMMAS ${PROJECT_VERSION})
  string(REPLACE "." ", " VERSION_TEXT ${PROJECT_VERSION})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/frame/identity.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ICON_FILE})
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} app_icon)
endfunction()

# add_program(NAME WIN32|CONSOLE [GUARD OBJECTS] SOURCES...): one shipped
# program, with its identity resources, the frame's process start (none of
# the C runtime's start-up code), its load configuration, its stack cookie
# and control-flow guard's pointers (GUARD: a test program's own in place of
# the frame's guard_cf), written to DIST_DIR.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/maps)
function(add_program name subsystem)
  cmake_parse_arguments(PARSE_ARGV 2 opt "" "GUARD" "")
  if(NOT opt_GUARD)
    set(opt_GUARD guard_cf)
  endif()
  add_executable(${name} ${opt_UNPARSED_ARGUMENTS})
  if(subsystem STREQUAL "WIN32")
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  add_identity(${name} ${name})
  target_link_libraries(${name} PRIVATE start load_config stack_cookie ${opt_GUARD})
  # The link map names what lies at each address, for the tests that read
  # the guard's table; it stays in the build tree.
  target_link_options(${name} PRIVATE -nostartfiles -Wl,--entry,ProcessStart
                      -Wl,-Map=${PROJECT_BINARY_DIR}/maps/${name}.map)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${DIST_DIR})
  # lld points the image at the load configuration; load_config.py then
  # gives x86 the directory size XP requires, and the header its checksum.
  # A changed step links the program again, so that the step runs again.
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
               ${PROJECT_SOURCE_DIR}/frame/load_config.py)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/frame/load_config.py
            $<TARGET_FILE:${name}>
    VERBATIM)
endfunction()

# add_launcher(NAME SOURCES...): a launcher, on the frame.
function(add_launcher name)
  add_program(${name} WIN32 ${ARGN})
  target_link_libraries(${name} PRIVATE frame)
endfunction()
