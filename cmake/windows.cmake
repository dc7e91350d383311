# The Windows DLL: vantorel.dll, exporting by undecorated name and ordinal through the
# module definition file, with an import library for applications. Included by the top
# level for WIN32 builds.

set(VANTOREL_DEF ${PROJECT_SOURCE_DIR}/exports/vantorel.def)

# exports/vantorel.def maps each undecorated export to its 32-bit stdcall symbol
# (`Name = Name@N @ord`). The 64-bit ABI decorates nothing, so a 64-bit build links with
# the same list, the right-hand sides dropped.
file(STRINGS ${VANTOREL_DEF} VANTOREL_DEF_LINES)
set(VANTOREL_IMPLIB_DEF_TEXT "")
set(VANTOREL_DEF64_TEXT "")
foreach(line IN LISTS VANTOREL_DEF_LINES)
  if(line MATCHES "^[ \t]*([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z0-9_@]+)[ \t]+(@[0-9]+)")
    # The import library's def: decorated symbols (what stdcall callers reference), which
    # dlltool --kill-at imports under the undecorated names.
    string(APPEND VANTOREL_IMPLIB_DEF_TEXT "  ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}\n")
    string(APPEND VANTOREL_DEF64_TEXT "  ${CMAKE_MATCH_1} ${CMAKE_MATCH_3}\n")
  elseif(line MATCHES "^[ \t]*(LIBRARY|EXPORTS)")
    string(APPEND VANTOREL_IMPLIB_DEF_TEXT "${line}\n")
    string(APPEND VANTOREL_DEF64_TEXT "${line}\n")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VANTOREL_DEF})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VANTOREL_LINK_DEF ${VANTOREL_DEF})
else()
  set(VANTOREL_LINK_DEF ${CMAKE_BINARY_DIR}/vantorel-x64.def)
  file(WRITE ${VANTOREL_LINK_DEF} "${VANTOREL_DEF64_TEXT}")
endif()

# The version resource: FILEVERSION and its text carry the project's version, padded to
# the four numbers Windows keeps (1.10 is 1,10,0,0 and "1.10.0.0").
enable_language(RC)
set(VANTOREL_RC_PARTS "")
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND VANTOREL_RC_PARTS 0)
  else()
    list(APPEND VANTOREL_RC_PARTS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN VANTOREL_RC_PARTS "," VANTOREL_RC_VERSION)
list(JOIN VANTOREL_RC_PARTS "." VANTOREL_RC_VERSION_TEXT)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vantorel.rc.in ${CMAKE_BINARY_DIR}/vantorel.rc @ONLY)
target_sources(vantorel PRIVATE ${CMAKE_BINARY_DIR}/vantorel.rc)

# The DLL takes vantorel.dll as its name; the import library keeps the GNU convention.
set_target_properties(vantorel PROPERTIES
  PREFIX ""
  OUTPUT_NAME vantorel
  IMPORT_PREFIX "lib"
  IMPORT_SUFFIX ".dll.a")

# Everything the compiler brings (libgcc, libstdc++, winpthread) is linked in, so the DLL
# imports only system DLLs. The .def alone decides what is exported (nothing is marked
# dllexport, which would add decorated duplicates).
target_link_options(vantorel PRIVATE
  -static -static-libgcc -static-libstdc++
  -Wl,--no-undefined
  -Wl,--disable-stdcall-fixup
  ${VANTOREL_LINK_DEF})
set_property(TARGET vantorel APPEND PROPERTY LINK_DEPENDS ${VANTOREL_LINK_DEF})
target_link_libraries(vantorel PRIVATE setupapi hid)
target_link_libraries(vantorel_core PUBLIC setupapi hid)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # ld writes an import library from the .def with the undecorated symbols, which stdcall
  # callers (who reference Name@N) cannot link against. dlltool makes the right one:
  # decorated symbols, undecorated import names.
  set(VANTOREL_IMPLIB_DEF ${CMAKE_BINARY_DIR}/vantorel-implib.def)
  file(WRITE ${VANTOREL_IMPLIB_DEF} "${VANTOREL_IMPLIB_DEF_TEXT}")
  find_program(VANTOREL_DLLTOOL NAMES ${VANTOREL_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  add_custom_command(TARGET vantorel POST_BUILD
    COMMAND ${VANTOREL_DLLTOOL} --kill-at --dllname vantorel.dll
            --input-def ${VANTOREL_IMPLIB_DEF}
            --output-lib $<TARGET_LINKER_FILE:vantorel>
    COMMENT "Import library with stdcall symbols for vantorel.dll"
    VERBATIM)
  install(FILES ${VANTOREL_IMPLIB_DEF} DESTINATION lib RENAME vantorel.def)

  # vantorel.lib, the import library in Microsoft's format for Visual C++ callers, from the
  # same def: llvm-dlltool's --kill-at keeps the decorated _Name@N symbols the compiler
  # references and gives each import the "undecorate" name type, so the loader binds the
  # plain export Name. scripts/check-import-lib.sh verifies it.
  find_program(VANTOREL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
  if(VANTOREL_LLVM_DLLTOOL)
    set(VANTOREL_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/vantorel.lib)
    add_custom_command(TARGET vantorel POST_BUILD
      COMMAND ${VANTOREL_LLVM_DLLTOOL} -m i386 --kill-at -D vantorel.dll
              -d ${VANTOREL_IMPLIB_DEF} -l ${VANTOREL_MSVC_IMPLIB}
      BYPRODUCTS ${VANTOREL_MSVC_IMPLIB}
      COMMENT "Import library for Visual C++ (vantorel.lib)"
      VERBATIM)
    install(FILES ${VANTOREL_MSVC_IMPLIB} DESTINATION lib)
  else()
    message(STATUS "llvm-dlltool not found: no vantorel.lib for Visual C++ (package llvm)")
  endif()
endif()

option(VANTOREL_WINDOWS_TESTS "Build the Windows test suite (runs under wine)" OFF)
if(VANTOREL_WINDOWS_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/windows ${CMAKE_BINARY_DIR}/tests/windows)
endif()
