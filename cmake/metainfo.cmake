# quorlen_metainfo(CHANGELOG TEMPLATE OUTPUT): writes the AppStream metainfo
# from TEMPLATE with @QUORLEN_RELEASES@ made from CHANGELOG, so that the
# history is written once. Each "## VERSION (YYYY-MM-DD)" heading is a release
# of that date, in the changelog's order (newest first); its text is the
# release's description: paragraphs, "- " items (continued by indented lines),
# `code` and **bold**. HTML comments are left out. A change to the changelog
# configures the build again.
function(quorlen_metainfo changelog template output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
  file(READ ${changelog} text)
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" text "${text}")
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  # A list of lines: the text's own semicolons and brackets would split or
  # join them, so they stand in as tokens until the end.
  string(REPLACE ";" "@SEMICOLON@" text "${text}")
  string(REPLACE "[" "@OPEN@" text "${text}")
  string(REPLACE "]" "@CLOSE@" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")

  set(releases "")
  set(body "")   # the description of the release being read
  set(block "")  # "p" or "ul" while one is open
  set(item "")   # the paragraph or list item being read
  foreach(line IN LISTS lines ITEMS "## @END@")
    if(line MATCHES "^(## |- )" OR line STREQUAL "")
      # Whatever starts here ends the paragraph or item before it.
      if(NOT item STREQUAL "")
        string(REGEX REPLACE "`([^`]*)`" "<code>\\1</code>" item "${item}")
        string(REGEX REPLACE "\\*\\*([^*]*)\\*\\*" "<em>\\1</em>" item "${item}")
        if(block STREQUAL "p")
          string(APPEND body "        <p>${item}</p>\n")
        else()
          string(APPEND body "          <li>${item}</li>\n")
        endif()
        set(item "")
      endif()
      if(block STREQUAL "ul" AND NOT line MATCHES "^- ")
        string(APPEND body "        </ul>\n")
      endif()
      if(NOT line MATCHES "^- ")
        set(block "")
      endif()
    endif()
    if(line MATCHES "^## ")
      if(DEFINED release_version)
        if(NOT body STREQUAL "")
          set(body "      <description>\n${body}      </description>\n")
        endif()
        string(APPEND releases "    <release version=\"${release_version}\" date=\"${release_date}\">\n"
                               "${body}    </release>\n")
      endif()
      if(line STREQUAL "## @END@")
        break()
      elseif(NOT line MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
        message(FATAL_ERROR "${changelog}: the heading \"${line}\" is not \"## VERSION (YYYY-MM-DD)\", "
                            "with the date the version is released")
      endif()
      set(release_version ${CMAKE_MATCH_1})
      set(release_date ${CMAKE_MATCH_2})
      set(body "")
    elseif(NOT DEFINED release_version OR line STREQUAL "")
      # the changelog's title, or a blank line
    elseif(line MATCHES "^- (.*)")
      if(NOT block STREQUAL "ul")
        string(APPEND body "        <ul>\n")
        set(block "ul")
      endif()
      set(item "${CMAKE_MATCH_1}")
    else()
      # A paragraph's line, or an item's (indented or not).
      string(STRIP "${line}" line)
      if(item STREQUAL "")
        set(block "p")
        set(item "${line}")
      else()
        string(APPEND item " ${line}")
      endif()
    endif()
  endforeach()
  if(releases STREQUAL "")
    message(FATAL_ERROR "${changelog}: no \"## VERSION (YYYY-MM-DD)\" heading")
  endif()
  string(REPLACE "@SEMICOLON@" ";" QUORLEN_RELEASES "${releases}")
  string(REPLACE "@OPEN@" "[" QUORLEN_RELEASES "${QUORLEN_RELEASES}")
  string(REPLACE "@CLOSE@" "]" QUORLEN_RELEASES "${QUORLEN_RELEASES}")
  configure_file(${template} ${output} @ONLY)
endfunction()
