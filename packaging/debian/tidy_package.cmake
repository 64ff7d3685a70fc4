# Run by CPack on the staged files before it makes the .deb: Debian's own copyright file takes
# the place of the licence text (Debian ships the GPL once, in /usr/share/common-licenses), and
# the changelog goes in gzipped, as Debian policy wants.
set(doc ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/tarvelin)
if(NOT IS_DIRECTORY ${doc})
  message(FATAL_ERROR "No ${doc} in the staged package")
endif()
file(REMOVE ${doc}/LICENSE)
file(COPY_FILE ${CPACK_TARVELIN_DEBIAN_DIR}/copyright ${doc}/copyright)
execute_process(COMMAND gzip -9nc INPUT_FILE ${CPACK_TARVELIN_DEBIAN_DIR}/changelog OUTPUT_FILE ${doc}/changelog.gz
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed on the changelog")
endif()
