# Rules that need the program targets, so they are included at the end of app/CMakeLists.txt,
# once the tarvelin target exists:  include(resources/install.cmake)
include(GNUInstallDirs)

install(TARGETS tarvelin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# On Windows the executable carries its icon, version information and the common-controls manifest.
if(WIN32 AND TARGET tarvelin)
  set(tarvelin_rc ${CMAKE_CURRENT_LIST_DIR}/tarvelin.rc)
  set_source_files_properties(${tarvelin_rc} PROPERTIES
      INCLUDE_DIRECTORIES ${CMAKE_CURRENT_LIST_DIR}
      OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/tarvelin.ico;${CMAKE_CURRENT_LIST_DIR}/tarvelin.manifest")
  target_sources(tarvelin PRIVATE ${tarvelin_rc})
  if(MSVC)
    # The script brings its own manifest; a second one from the linker would clash with it.
    target_link_options(tarvelin PRIVATE /MANIFEST:NO)
  endif()
endif()
