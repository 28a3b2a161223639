# The command-line tools link statically on Linux, as the Windows builds do.
# Every run then starts without the dynamic loader's work: about 2.5 ms of a
# 17 ms decode of a short clip here, which counts when scripts run the tools
# over many small files. Sanitizer and fuzzer builds link dynamically (their
# run-times need it), and so does a system without static libraries.
include(CheckCXXSourceCompiles)

set(_vemo_static_default OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING AND NOT VEMO_SANITIZE
   AND NOT VEMO_BUILD_FUZZ)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  check_cxx_source_compiles("#include <thread>
    int main() { std::thread t([] {}); t.join(); }" VEMO_CAN_LINK_STATIC)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  set(_vemo_static_default ${VEMO_CAN_LINK_STATIC})
endif()
option(VEMO_STATIC_TOOLS "Link the command-line tools statically (Linux)" ${_vemo_static_default})

# vemo_static_tool(TARGET): links TARGET statically when the option is on.
function(vemo_static_tool target)
  if(VEMO_STATIC_TOOLS)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
