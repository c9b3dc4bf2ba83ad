# Embeds the built-in pictures and the icon into the program at build time.
# Each file becomes a byte array in a generated source, looked up by its
# resource number (see src/platform/resource_table.h).
set(NEBLA_RESOURCES
  101 nebla.ico
  114 glyphs.bmp
  119 outro.bmp
  120 trible.bmp)

set(_gen_dir ${CMAKE_BINARY_DIR}/generated)
set(NEBLA_RESOURCE_SOURCE ${_gen_dir}/resource_data.cpp)
set(_body "")
set(_table "")
list(LENGTH NEBLA_RESOURCES _len)
math(EXPR _last "${_len} - 1")
foreach(_i RANGE 0 ${_last} 2)
  math(EXPR _j "${_i} + 1")
  list(GET NEBLA_RESOURCES ${_i} _id)
  list(GET NEBLA_RESOURCES ${_j} _name)
  set(_file ${CMAKE_SOURCE_DIR}/resources/${_name})
  if(NOT EXISTS ${_file})
    message(FATAL_ERROR "missing resource ${_file}: run resources/make_resources.py")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_file})
  file(READ ${_file} _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" _bytes "${_bytes}")
  string(APPEND _body "const unsigned char resource${_id}[] = {\n${_bytes}};\n")
  string(APPEND _table "    {${_id}, resource${_id}, sizeof resource${_id}},\n")
endforeach()
file(CONFIGURE OUTPUT ${NEBLA_RESOURCE_SOURCE} CONTENT
"// Generated from resources/ at configure time; do not edit.
#include <iterator>

#include \"platform/resource_table.h\"

namespace nebla::platform {
namespace {
${_body}
const ResourceEntry table[] = {
${_table}    {0, nullptr, 0},
};
}  // namespace

std::span<const ResourceEntry> resourceTable() { return {table, std::size(table) - 1}; }
}  // namespace nebla::platform
" @ONLY)
