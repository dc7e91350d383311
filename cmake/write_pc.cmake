# Writes vantorel.pc at install time (included from the install script, where
# CMAKE_INSTALL_PREFIX is the prefix being installed to). Relative directories are written
# below ${prefix}, so that the file stays right when the tree is moved as a whole.
set(VANTOREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${VANTOREL_PC_${kind}}")
    set(VANTOREL_PC_${kind}_FULL "${VANTOREL_PC_${kind}}")
  else()
    set(VANTOREL_PC_${kind}_FULL "\${prefix}/${VANTOREL_PC_${kind}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${VANTOREL_PC_DESTINATION}")
  set(destination "${VANTOREL_PC_DESTINATION}")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${VANTOREL_PC_DESTINATION}")
endif()
configure_file("${VANTOREL_PC_TEMPLATE}" "$ENV{DESTDIR}${destination}/vantorel.pc" @ONLY)
message(STATUS "Installing: $ENV{DESTDIR}${destination}/vantorel.pc")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "$ENV{DESTDIR}${destination}/vantorel.pc")
