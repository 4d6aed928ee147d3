# Lays out the distribution tree: cmake -DSOURCE_DIR=... -DOUTPUT_DIR=...
# -DSETUP_PROGRAM=... -DGZIP=... [-DOBJCOPY=...] -P assemble.cmake
# The PPD lines of the manifest follow the PPD files found in SOURCE_DIR/ppd
# (shipped as they are) and SOURCE_DIR/ppd/gz (shipped gzip-compressed).
# Last, etc/MIVOINST.SHA256 lists the SHA-256 hash of every file of the tree
# (but itself), sorted by path, in the format sha256sum prints and checks.

set(SOURCE_NAME_MAX 47)

file(MAKE_DIRECTORY ${OUTPUT_DIR}/bin ${OUTPUT_DIR}/etc ${OUTPUT_DIR}/man)
file(REMOVE_RECURSE ${OUTPUT_DIR}/ppd)
file(MAKE_DIRECTORY ${OUTPUT_DIR}/ppd)

set(EXECUTABLE OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(READABLE OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(COPY ${SETUP_PROGRAM} ${SOURCE_DIR}/bin/zebgsfilter
     DESTINATION ${OUTPUT_DIR}/bin FILE_PERMISSIONS ${EXECUTABLE})
if(OBJCOPY)
  execute_process(COMMAND ${OBJCOPY} --strip-debug ${OUTPUT_DIR}/bin/setup COMMAND_ERROR_IS_FATAL ANY)
endif()
file(COPY ${SOURCE_DIR}/etc/mivo4.0.png DESTINATION ${OUTPUT_DIR}/etc FILE_PERMISSIONS ${READABLE})
file(COPY ${SOURCE_DIR}/man/setup.8 DESTINATION ${OUTPUT_DIR}/man FILE_PERMISSIONS ${READABLE})

function(add_ppd_lines shipped_name)
  set(source "ppd/${shipped_name}")
  string(LENGTH "${source}" length)
  if(length GREATER SOURCE_NAME_MAX)
    message(FATAL_ERROR "PPD name too long for the manifest (${length} > ${SOURCE_NAME_MAX}): ${source}")
  endif()
  string(APPEND manifest "${source} ? 00644\n${source} ./ppd 00644\n")
  set(manifest "${manifest}" PARENT_SCOPE)
endfunction()

file(READ ${SOURCE_DIR}/etc/MIVOINST.CONF.in manifest)

file(GLOB plain_ppds LIST_DIRECTORIES false ${SOURCE_DIR}/ppd/*.ppd)
list(SORT plain_ppds)
foreach(ppd IN LISTS plain_ppds)
  get_filename_component(name ${ppd} NAME)
  file(COPY ${ppd} DESTINATION ${OUTPUT_DIR}/ppd FILE_PERMISSIONS ${READABLE})
  add_ppd_lines(${name})
endforeach()

file(GLOB gz_ppds LIST_DIRECTORIES false ${SOURCE_DIR}/ppd/gz/*.ppd)
list(SORT gz_ppds)
foreach(ppd IN LISTS gz_ppds)
  get_filename_component(name ${ppd} NAME)
  # -n leaves name and time out of the header, so the tree is reproducible.
  execute_process(COMMAND ${GZIP} -9n -c ${ppd}
                  OUTPUT_FILE ${OUTPUT_DIR}/ppd/${name}.gz RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${ppd}")
  endif()
  file(CHMOD ${OUTPUT_DIR}/ppd/${name}.gz PERMISSIONS ${READABLE})
  add_ppd_lines(${name}.gz)
endforeach()

file(WRITE ${OUTPUT_DIR}/etc/MIVOINST.CONF.new "${manifest}")
file(COPY_FILE ${OUTPUT_DIR}/etc/MIVOINST.CONF.new ${OUTPUT_DIR}/etc/MIVOINST.CONF ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT_DIR}/etc/MIVOINST.CONF.new)
file(CHMOD ${OUTPUT_DIR}/etc/MIVOINST.CONF PERMISSIONS ${READABLE})

# The hash list, after every other file of the tree is in place. Links and
# directories are not listed (nor followed); a leftover of an interrupted run
# is removed first.
cmake_policy(SET CMP0009 NEW)
set(hash_list etc/MIVOINST.SHA256)
file(REMOVE ${OUTPUT_DIR}/${hash_list}.new)
file(GLOB_RECURSE tree_files LIST_DIRECTORIES false RELATIVE ${OUTPUT_DIR} ${OUTPUT_DIR}/*)
list(REMOVE_ITEM tree_files ${hash_list})
list(SORT tree_files COMPARE STRING)
set(hashes "")
foreach(path IN LISTS tree_files)
  if(IS_SYMLINK ${OUTPUT_DIR}/${path})
    continue()
  endif()
  if(path MATCHES "[\\\n]")
    message(FATAL_ERROR "Path not listable in ${hash_list}: ${path}")
  endif()
  file(SHA256 ${OUTPUT_DIR}/${path} hash)
  string(APPEND hashes "${hash}  ${path}\n")
endforeach()
file(WRITE ${OUTPUT_DIR}/${hash_list}.new "${hashes}")
file(COPY_FILE ${OUTPUT_DIR}/${hash_list}.new ${OUTPUT_DIR}/${hash_list} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT_DIR}/${hash_list}.new)
file(CHMOD ${OUTPUT_DIR}/${hash_list} PERMISSIONS ${READABLE})
