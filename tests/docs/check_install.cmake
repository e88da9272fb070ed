# Installs the build into a scratch program folder and checks that it holds what the
# README's installation relies on: the executable beside the page's files and the help
# page with every picture of its files folder.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected xaptvkKorvane HTML/xaptvkKorvane/StyleNoBody.css HTML/Help/xaptvkKorvane/xaptvkKorvane.htm)
file(GLOB pictures RELATIVE "${SOURCE_DIR}/demo" "${SOURCE_DIR}/demo/HTML/Help/xaptvkKorvane/xaptvkKorvane_files/*")
list(LENGTH pictures count)
if(count EQUAL 0)
  message(FATAL_ERROR "the help page has no pictures to install")
endif()
foreach(file IN LISTS expected pictures)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()
execute_process(COMMAND test -x "${PREFIX}/xaptvkKorvane" RESULT_VARIABLE notExecutable)
if(NOT notExecutable EQUAL 0)
  message(FATAL_ERROR "the installed program is not executable")
endif()
# The demo's settings keep xAP on loopback: an install must never carry them.
if(EXISTS "${PREFIX}/Config")
  message(FATAL_ERROR "the install carries a Config folder")
endif()
file(REMOVE_RECURSE "${PREFIX}")
