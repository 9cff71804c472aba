# Writes OUTPUT, a C++ source that defines tarvo::BackgroundBitmap() with the
# bytes of INPUT.
if(EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
else()
  set(hex "")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from resources/background.bmp; do not edit.\n#include \"resources/Resources.h\"\n\nnamespace tarvo {\n\nconst std::vector<unsigned char>& BackgroundBitmap()\n{\n    static const std::vector<unsigned char> bytes{\n${bytes}\n    };\n    return bytes;\n}\n\n}  // namespace tarvo\n")
