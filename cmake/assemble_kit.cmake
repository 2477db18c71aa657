# Assembles the kit: Install.exe with every stand-in product file, laid out
# as the product folder that a site ships and the installer reads from
# (everything flat, except the culture folders and FontFiles), and packs it
# into a zip archive whose root is that folder's content.
#
# Run by the `kit` target of the 32-bit build:
#   cmake -DKIT_DIR=... -DKIT_ZIP=... -DWINE_SUPPORT_DIR=... -DPARTS32_DIR=...
#         -DPARTS64_DIR=... -DWINE_SUPPORT_PARTS_DIR=... -DINSTALL_EXE=...
#         -DKIT_SOURCE_DIR=... -P assemble_kit.cmake

foreach(variable KIT_DIR KIT_ZIP WINE_SUPPORT_DIR PARTS32_DIR PARTS64_DIR WINE_SUPPORT_PARTS_DIR
                 INSTALL_EXE KIT_SOURCE_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "assemble_kit.cmake: ${variable} is not set")
  endif()
endforeach()

set(CULTURES cs-CZ de-DE hu-HU ja-JP pl-PL ru-RU zh-CN)

# File name in the build -> file name in the kit.
set(FILES32
  "TOLVOVS.DLL=TOLVOVS.DLL"
  "TOLVOE.DLL=TOLVOE.DLL"
  "TOLVOUI.DLL=TOLVOUI.DLL"
  "TOLVOEUI.DLL=TOLVOEUI.DLL"
  "TolvoCairoLib.DLL=TolvoCairoLib.DLL"
  "TolvoECairoLib.DLL=TolvoECairoLib.DLL"
  "TolvoEvent.dll=TolvoEvent.dll"
  "TolvoClient.exe=Tolvo Client.exe"
  "Quarvel.exe=Quarvel.exe"
  "Interop.SHDocVw.dll=Interop.SHDocVw.dll"
  "Microsoft.mshtml.dll=Microsoft.mshtml.dll")
set(FILES64
  TOLVOVS64.DLL
  TOLVOE64.DLL
  TOLVO64UI.DLL
  TOLVOE64UI.DLL
  TolvoCairoLib64.DLL
  TolvoECairoLib64.DLL)
set(WINE_SUPPORT_FILES TOLVOVS64.DLL TOLVOE64.DLL)
set(WINE_SUPPORT_TOOLS spooler_probe.exe)

function(require_file path hint)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "Missing ${path}\n${hint}")
  endif()
endfunction()

function(copy_as source destination)
  configure_file("${source}" "${destination}" COPYONLY)
endfunction()

# Check everything first, so that a missing part leaves no half-built kit.
require_file("${INSTALL_EXE}" "Build Install.exe first.")
foreach(entry IN LISTS FILES32)
  string(REGEX REPLACE "=.*$" "" built "${entry}")
  require_file("${PARTS32_DIR}/${built}" "Build the mingw32 preset first.")
endforeach()
require_file("${PARTS32_DIR}/TolvoClient.resources.dll" "Build the mingw32 preset first.")
foreach(name IN LISTS FILES64)
  require_file("${PARTS64_DIR}/${name}"
    "The 64-bit stand-ins come from the mingw64 preset: run\n"
    "  cmake --preset mingw64 && cmake --build --preset mingw64\n"
    "before building the kit.")
endforeach()
foreach(name IN LISTS WINE_SUPPORT_FILES WINE_SUPPORT_TOOLS)
  require_file("${WINE_SUPPORT_PARTS_DIR}/${name}" "Build the mingw32 preset first.")
endforeach()

file(REMOVE_RECURSE "${KIT_DIR}")
file(MAKE_DIRECTORY "${KIT_DIR}")

copy_as("${INSTALL_EXE}" "${KIT_DIR}/Install.exe")
foreach(entry IN LISTS FILES32)
  string(REGEX REPLACE "=.*$" "" built "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" shipped "${entry}")
  copy_as("${PARTS32_DIR}/${built}" "${KIT_DIR}/${shipped}")
endforeach()
foreach(name IN LISTS FILES64)
  copy_as("${PARTS64_DIR}/${name}" "${KIT_DIR}/${name}")
endforeach()
foreach(culture IN LISTS CULTURES)
  copy_as("${PARTS32_DIR}/TolvoClient.resources.dll"
          "${KIT_DIR}/${culture}/Tolvo Client.resources.dll")
endforeach()
copy_as("${KIT_SOURCE_DIR}/Tolvo.ini" "${KIT_DIR}/Tolvo.ini")
file(GLOB fonts "${KIT_SOURCE_DIR}/FontFiles/*")
foreach(font IN LISTS fonts)
  get_filename_component(name "${font}" NAME)
  copy_as("${font}" "${KIT_DIR}/FontFiles/${name}")
endforeach()

file(REMOVE_RECURSE "${WINE_SUPPORT_DIR}")
foreach(name IN LISTS WINE_SUPPORT_FILES)
  copy_as("${WINE_SUPPORT_PARTS_DIR}/${name}" "${WINE_SUPPORT_DIR}/syswow64/${name}")
endforeach()
foreach(name IN LISTS WINE_SUPPORT_TOOLS)
  copy_as("${WINE_SUPPORT_PARTS_DIR}/${name}" "${WINE_SUPPORT_DIR}/${name}")
endforeach()

file(REMOVE "${KIT_ZIP}")
file(GLOB entries RELATIVE "${KIT_DIR}" "${KIT_DIR}/*")
list(SORT entries)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${KIT_ZIP}" --format=zip -- ${entries}
                WORKING_DIRECTORY "${KIT_DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Cannot pack ${KIT_ZIP}")
endif()

message(STATUS "Kit assembled in ${KIT_DIR}")
message(STATUS "Kit packed as ${KIT_ZIP}")
message(STATUS "For 64-bit Wine prefixes: ${WINE_SUPPORT_DIR}/syswow64")
