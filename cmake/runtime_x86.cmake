# The x86 programs' static runtime without DWARF unwind tables. Its objects
# (MinGW-w64's start-up code, libgcc) carry .eh_frame sections that nothing
# reads: exceptions are off, and nothing unwinds on x86. The programs link
# copies of them with those sections removed (runtime_x86.py), and without
# libgcc's crtbegin.o and crtend.o, whose only work is to register those
# tables with an unwinder. The copies are made when CMake configures, and
# again when the system's files change.
set(runtime_dir ${PROJECT_BINARY_DIR}/runtime)
set(runtime_files)
foreach(file crt2.o libmingw32.a libmingwex.a libmsvcrt.a libgcc.a libgcc_eh.a libstdc++.a)
  execute_process(COMMAND ${CMAKE_C_COMPILER} --target=${MINGW_TRIPLE} -print-file-name=${file}
                  OUTPUT_VARIABLE system_file OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${system_file}")
    message(FATAL_ERROR "${CMAKE_C_COMPILER} finds no ${file} for ${MINGW_TRIPLE}")
  endif()
  list(APPEND runtime_files ${system_file})
endforeach()
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/runtime_x86.py
                        ${MINGW_TRIPLE} ${runtime_dir} ${runtime_files}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake/runtime_x86.py could not copy the x86 runtime")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${runtime_files}
             ${CMAKE_CURRENT_LIST_DIR}/runtime_x86.py)
# What add_program links the programs again for when it is made again.
file(GLOB runtime_copies ${runtime_dir}/*)
# Programs (the test stand-ins' DLLs keep theirs) take our copies first:
# crt2.o by hand, as -nostartfiles leaves out all three start files, and
# msvcrt's static code ahead of its import library.
string(APPEND CMAKE_EXE_LINKER_FLAGS
       " -nostartfiles ${runtime_dir}/crt2.o ${runtime_dir}/libmsvcrt_static.a -L${runtime_dir}")
