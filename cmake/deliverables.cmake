# What every deliverable gets: a version resource from the project's version, and an install
# rule that puts it, stripped, at the root of the install prefix (dist/). Debug symbols stay
# in the build folder's copy.

set(TORVEX_VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${PROJECT_VERSION_TWEAK}")
string(REPLACE "." "," TORVEX_VERSION_COMMAS "${TORVEX_VERSION_DOTS}")

# torvex_deliverable(<target> FILE_NAME <name> TYPE DLL|APP|DRV DESCRIPTION <text> [NO_INSTALL])
# NO_INSTALL: the target installs itself (only in some configurations).
function(torvex_deliverable target)
  cmake_parse_arguments(ARG "NO_INSTALL" "FILE_NAME;TYPE;DESCRIPTION" "" ${ARGN})
  set(TORVEX_VR_FILE_NAME "${ARG_FILE_NAME}")
  set(TORVEX_VR_DESCRIPTION "${ARG_DESCRIPTION}")
  set(TORVEX_VR_DOTS "${TORVEX_VERSION_DOTS}")
  set(TORVEX_VR_COMMAS "${TORVEX_VERSION_COMMAS}")
  get_filename_component(TORVEX_VR_INTERNAL_NAME "${ARG_FILE_NAME}" NAME_WE)
  set(TORVEX_VR_FILE_SUBTYPE "VFT2_UNKNOWN")
  if(ARG_TYPE STREQUAL "DLL")
    set(TORVEX_VR_FILE_TYPE "VFT_DLL")
  elseif(ARG_TYPE STREQUAL "APP")
    set(TORVEX_VR_FILE_TYPE "VFT_APP")
  elseif(ARG_TYPE STREQUAL "DRV")
    set(TORVEX_VR_FILE_TYPE "VFT_DRV")
    set(TORVEX_VR_FILE_SUBTYPE "VFT2_DRV_SYSTEM")
  else()
    message(FATAL_ERROR "torvex_deliverable: unknown TYPE '${ARG_TYPE}'")
  endif()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.o)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  add_custom_command(
    OUTPUT ${obj}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${rc} -o ${obj}
    DEPENDS ${rc}
    COMMENT "Version resource of ${ARG_FILE_NAME}")
  target_sources(${target} PRIVATE ${obj})
  if(NOT ARG_TYPE STREQUAL "DRV")
    # The run-time library's calls that Windows 98 or 2000 lack, bound at run time instead.
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/support/late_bound_kernel32.cpp)
  endif()
  if(NOT ARG_NO_INSTALL)
    install(TARGETS ${target} RUNTIME DESTINATION . LIBRARY DESTINATION .)
  endif()
endfunction()
