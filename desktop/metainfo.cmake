# Writes the software-centre metadata from pirvel.metainfo.xml.in. Screenshots must be https
# addresses, so they are listed only when the project has somewhere it publishes docs/quiz.png
# and docs/editor.png; a made-up address would show software centres a broken picture.
# In a build: include() it and call pirvel_write_metainfo. By hand or in a test:
#   cmake -DOUT=file -DVERSION=x.y.z [-DSCREENSHOT_URL=https://...] -P metainfo.cmake

set(PIRVEL_METAINFO_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/pirvel.metainfo.xml.in)

function(pirvel_write_metainfo out version screenshot_url)
  file(READ ${PIRVEL_METAINFO_TEMPLATE} text)
  # The newest release listed must be this version, so that a version bump cannot ship
  # without its release notes.
  string(REGEX MATCH "<release version=\"([^\"]*)\"" _ "${text}")
  if(NOT CMAKE_MATCH_1 STREQUAL version)
    message(FATAL_ERROR "The newest release in ${PIRVEL_METAINFO_TEMPLATE} is "
                        "\"${CMAKE_MATCH_1}\", not ${version}: add this version's notes.")
  endif()
  set(SCREENSHOTS "")
  if(NOT screenshot_url STREQUAL "")
    if(NOT screenshot_url MATCHES "^https://[^ <>\"&]+$")
      message(FATAL_ERROR "PIRVEL_SCREENSHOT_URL must be an https address: ${screenshot_url}")
    endif()
    string(REGEX REPLACE "/+$" "" base "${screenshot_url}")
    string(CONCAT SCREENSHOTS
      "  <screenshots>\n"
      "    <screenshot type=\"default\">\n"
      "      <caption>The quiz in the demo exercise</caption>\n"
      "      <caption xml:lang=\"sv\">Övningen i demo-mappen</caption>\n"
      "      <image>${base}/quiz.png</image>\n"
      "    </screenshot>\n"
      "    <screenshot>\n"
      "      <caption>The editor in the demo exercise</caption>\n"
      "      <caption xml:lang=\"sv\">Redigeraren i demo-mappen</caption>\n"
      "      <image>${base}/editor.png</image>\n"
      "    </screenshot>\n"
      "  </screenshots>\n")
  endif()
  configure_file(${PIRVEL_METAINFO_TEMPLATE} ${out} @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED SCREENSHOT_URL)
    set(SCREENSHOT_URL "")
  endif()
  pirvel_write_metainfo(${OUT} ${VERSION} "${SCREENSHOT_URL}")
endif()
