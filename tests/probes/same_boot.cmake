# Runs kov-boot-digest (DIGEST) from the boot image and from the sources under ROOT, and
# fails unless both succeed and print the same vocabulary.
execute_process(COMMAND ${DIGEST} image RESULT_VARIABLE image_status OUTPUT_VARIABLE image_out ERROR_VARIABLE image_err)
execute_process(COMMAND ${DIGEST} sources ${ROOT} RESULT_VARIABLE source_status OUTPUT_VARIABLE source_out
                ERROR_VARIABLE source_err)
if(NOT image_status EQUAL 0 OR NOT source_status EQUAL 0)
  message(FATAL_ERROR "boot from the image: ${image_status} ${image_err}\nboot from the sources: ${source_status} ${source_err}")
endif()
# A digest of a few words would mean the listing itself broke.
string(REGEX MATCH "\n([0-9]+) words\n$" total "${image_out}")
if(NOT total OR CMAKE_MATCH_1 LESS 500)
  message(FATAL_ERROR "too short a vocabulary from the image:\n${image_out}")
endif()
if(NOT image_out STREQUAL source_out)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/boot-image.txt "${image_out}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/boot-sources.txt "${source_out}")
  message(FATAL_ERROR "the boot image and the sources give different vocabularies: compare "
                      "${CMAKE_CURRENT_BINARY_DIR}/boot-image.txt and boot-sources.txt")
endif()
