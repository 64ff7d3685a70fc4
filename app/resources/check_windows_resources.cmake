# Compiles tarvelin.rc with windres, to a .res and to a COFF object as a Windows link would take it,
# then reads the .res back and checks the icon group, the version information and the manifest.
# Run as: cmake -DWINDRES=... -DPREPROCESSOR=... -DRC_FILE=... -DWORK_DIR=... -DVERSION=1.2.0 -P this file
foreach(var IN ITEMS WINDRES PREPROCESSOR RC_FILE WORK_DIR VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# A cross windres calls the matching MinGW gcc to preprocess; the host compiler does the same job
# for a script that includes no system headers, so the check does not need the MinGW compilers.
get_filename_component(windres_dir ${WINDRES} DIRECTORY)
get_filename_component(windres_name ${WINDRES} NAME)
string(REGEX REPLACE "windres$" "gcc" mingw_gcc ${windres_name})
set(preprocess)
if(NOT EXISTS ${windres_dir}/${mingw_gcc})
  set(preprocess --preprocessor=${PREPROCESSOR} --preprocessor-arg=-E --preprocessor-arg=-xc
                 --preprocessor-arg=-DRC_INVOKED)
endif()

get_filename_component(rc_dir ${RC_FILE} DIRECTORY)
file(MAKE_DIRECTORY ${WORK_DIR})

function(run_windres)
  execute_process(COMMAND ${WINDRES} ${preprocess} ${ARGN}
                  WORKING_DIRECTORY ${rc_dir}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "windres ${ARGN} failed (${result}):\n${out}")
  endif()
endfunction()

run_windres(--input-format=rc --output-format=coff -I ${rc_dir} ${RC_FILE} -o ${WORK_DIR}/tarvelin_rc.o)
run_windres(--input-format=rc --output-format=res -I ${rc_dir} ${RC_FILE} -o ${WORK_DIR}/tarvelin.res)
run_windres(--input-format=res --output-format=rc ${WORK_DIR}/tarvelin.res -o ${WORK_DIR}/readback.rc)

file(READ ${WORK_DIR}/readback.rc text)
set(failures)
function(expect label pattern)
  if(NOT text MATCHES "${pattern}")
    set(failures ${failures} "${label}" PARENT_SCOPE)
  endif()
endfunction()

# Icon group 1, in directory order. windres writes each entry as "width height colours pad" in octal
# escapes, then planes and bits: "\020\020\020\000", 1, 4, ... is 16 x 16 at 16 colours, 4 bits.
expect("icon group 1" "\n1 14 /\\* RT_GROUP_ICON \\*/")
set(entry_pattern "\"\\\\([0-7]+)\\\\[0-7]+\\\\([0-7]+)\\\\[0-7]+\", 1, ([0-9]+),")
string(REGEX MATCHALL "${entry_pattern}" entries "${text}")
set(images)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "${entry_pattern}" "\\1/\\2/\\3" image "${entry}")
  list(APPEND images "${image}")
endforeach()
set(expected_images 020/020/4 040/020/4 020/000/8 040/000/8 060/000/8 020/000/32 040/000/32 060/000/32)
if(NOT images STREQUAL expected_images)
  list(JOIN expected_images " " want)
  list(JOIN images " " found)
  list(APPEND failures "icon images (width/colours/bits, sizes in octal) ${want}; found: ${found}")
endif()

expect("US English resources" "LANGUAGE 9, 1")
expect("version resource 1" "\n1 VERSIONINFO")
string(REPLACE "." ";" parts "${VERSION}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
expect("file version" "FILEVERSION ${major}, ${minor}, ${patch}, 0")
expect("product version" "PRODUCTVERSION ${major}, ${minor}, ${patch}, 0")
# The strings in the form of the first releases: 1.2 is "1.02".
string(LENGTH "${minor}" length)
if(length LESS 2)
  set(minor "0${minor}")
endif()
expect("32-bit Windows" "FILEOS 0x4\n")
expect("application" "FILETYPE 0x1\n")
expect("string table" "BLOCK \"040904B0\"")
foreach(field IN ITEMS CompanyName FileDescription InternalName OriginalFilename)
  expect("${field}" "VALUE \"${field}\", \"[^\"]+\"")
endforeach()
expect("FileVersion" "VALUE \"FileVersion\", \"${major}\\.${minor}\"")
expect("ProductVersion" "VALUE \"ProductVersion\", \"${major}\\.${minor}\"")
expect("ProductName" "VALUE \"ProductName\", \"Tarvelin\"")
expect("licence" "VALUE \"LegalCopyright\", \"[^\"]*GPL-3\\.0-or-later\"")
expect("translation" "VALUE \"Translation\", 0x409, 1200")
expect("manifest resource 1" "\n1 24 /\\* RT_MANIFEST \\*/")
expect("common controls 6" "Microsoft\\.Windows\\.Common-Controls\"\"\\\\n\"[^/]*version=\"\"6\\.0\\.0\\.0\"\"")
expect("public key token" "publicKeyToken=\"\"6595b64144ccf1df\"\"")

if(failures)
  list(JOIN failures "\n  " listed)
  message(FATAL_ERROR "tarvelin.rc compiled, but its resources lack:\n  ${listed}")
endif()
message(STATUS "tarvelin.rc: icon group, version information and manifest present")
