# corvane_library(NAME [DEPS ...]): a static library of every .cpp in the current folder,
# included as "dir/file.h" from src/. A folder without sources yet gives an interface target.
function(corvane_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARGN} PRIVATE corvane_warnings)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# corvane_man_page(NAME): man/NAME.1.in with the version and date filled in, compressed as
# Debian keeps manual pages, and installed in share/man/man1.
function(corvane_man_page name)
  set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.1.in ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
                     COMMAND gzip -9nfk ${page}
                     DEPENDS ${page}
                     COMMENT "Compressing the manual page ${name}.1"
                     VERBATIM)
  add_custom_target(${name}_man_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
