# Imported targets for the cross-built libraries in TORVEX_DEPS_PREFIX (made by scripts/bootstrap).
if(NOT TORVEX_DEPS_PREFIX OR NOT EXISTS "${TORVEX_DEPS_PREFIX}/lib/libogg.a")
  message(FATAL_ERROR "TORVEX_DEPS_PREFIX does not hold the cross-built libraries; run scripts/bootstrap")
endif()

function(torvex_import name file)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION "${TORVEX_DEPS_PREFIX}/lib/${file}"
    INTERFACE_INCLUDE_DIRECTORIES "${TORVEX_DEPS_PREFIX}/include")
endfunction()

torvex_import(third_party_ogg libogg.a)
torvex_import(third_party_vorbis libvorbis.a)
torvex_import(third_party_vorbisfile libvorbisfile.a)
torvex_import(third_party_flac libFLAC.a)
torvex_import(third_party_db libdb.a)

set_property(TARGET third_party_vorbis APPEND PROPERTY INTERFACE_LINK_LIBRARIES third_party_ogg)
set_property(TARGET third_party_vorbisfile APPEND PROPERTY INTERFACE_LINK_LIBRARIES third_party_vorbis)
# Debian builds libFLAC with fortified string calls; their checks live in libssp.
set_property(TARGET third_party_flac APPEND PROPERTY INTERFACE_LINK_LIBRARIES third_party_ogg ssp)
set_property(TARGET third_party_flac APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS FLAC__NO_DLL)
