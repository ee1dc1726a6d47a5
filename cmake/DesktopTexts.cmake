# Texts Trevlin hands to the desktop (the KWin script, the GNOME Shell
# extension), built into a library as strings so an installed Trevlin needs no
# data files. The files stay under Resources/; editing one reconfigures.
# The declarations are in Platform/DesktopTexts.h.
function(trevlin_desktop_texts target)
  set(texts
    kwinFrontScript Resources/kwin/trevlin-front.js
    gnomeExtensionMetadata Resources/gnome-shell-extension/metadata.json
    gnomeExtensionModule Resources/gnome-shell-extension/extension.js
    gnomeExtensionLegacyScript Resources/gnome-shell-extension/legacy/extension.js)
  set(template "// Generated from the files under Resources/.\nnamespace trevlin::linux::desktop_texts {\n")
  while(texts)
    list(POP_FRONT texts name file)
    # The file's text is substituted as a value, never scanned for @...@.
    file(READ ${CMAKE_SOURCE_DIR}/${file} TREVLIN_TEXT_${name})
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${file})
    string(APPEND template "extern const char ${name}[] = R\"TREVLIN(@TREVLIN_TEXT_${name}@)TREVLIN\";\n")
  endwhile()
  string(APPEND template "}\n")
  set(output ${CMAKE_BINARY_DIR}/generated/DesktopTexts.cpp)
  file(CONFIGURE OUTPUT ${output} CONTENT "${template}" @ONLY)
  target_sources(${target} PRIVATE ${output})
endfunction()
