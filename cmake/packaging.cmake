# Everything `cmake --install` puts beside the binary (whose rule stands
# with its target), and the Debian package built by `cpack -G DEB`.
include(GNUInstallDirs)

set(SKERN_PACKAGE_MAINTAINER "The skern project <maintainers@skern.invalid>"
  CACHE STRING "Maintainer field of the Debian package")

# The man pages, gzip-compressed as Debian's man pages are: skern's and the
# formatter's, and the language server's and the debug adapter's where they
# are built. They are looked for when installing
# rather than when configuring, so a page written after the build tree was
# configured still goes in.
set(skern_man_pages "${PROJECT_SOURCE_DIR}/skern.1" "${PROJECT_SOURCE_DIR}/skern-fmt.1")
if(TARGET skern-lsp)
  list(APPEND skern_man_pages "${PROJECT_SOURCE_DIR}/skern-lsp.1")
endif()
if(TARGET skern-dap)
  list(APPEND skern_man_pages "${PROJECT_SOURCE_DIR}/skern-dap.1")
endif()
install(CODE "set(skern_man_pages \"${skern_man_pages}\")
set(skern_man_dir \"${CMAKE_INSTALL_MANDIR}/man1\")")
install(CODE [[
  foreach(skern_man_page IN LISTS skern_man_pages)
    if(EXISTS "${skern_man_page}")
      # The prefix is the one of this install (--prefix, or CPack's), not
      # the one configured.
      if(NOT IS_ABSOLUTE "${skern_man_dir}")
        set(skern_man_dir "${CMAKE_INSTALL_PREFIX}/${skern_man_dir}")
      endif()
      get_filename_component(skern_man_name "${skern_man_page}" NAME)
      set(skern_man_target "$ENV{DESTDIR}${skern_man_dir}/${skern_man_name}.gz")
      message(STATUS "Installing: ${skern_man_target}")
      file(MAKE_DIRECTORY "$ENV{DESTDIR}${skern_man_dir}")
      file(ARCHIVE_CREATE OUTPUT "${skern_man_target}" PATHS "${skern_man_page}"
        FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${skern_man_target}")
    endif()
  endforeach()
]])

# Vim: Debian's Vim reads vimfiles under the data directory on its own.
set(skern_vim_dir ${CMAKE_INSTALL_DATADIR}/vim/vimfiles)
foreach(kind syntax ftdetect ftplugin)
  install(FILES ${PROJECT_SOURCE_DIR}/editors/vim/${kind}/skerran.vim
    DESTINATION ${skern_vim_dir}/${kind})
endforeach()

# VS Code: the extension folder, ready to be copied or linked into the
# user's extensions folder (where `npm ci` brings the language client).
set(skern_vscode_dir ${CMAKE_INSTALL_DATADIR}/skern/vscode)
install(FILES
    ${PROJECT_SOURCE_DIR}/editors/vscode/package.json
    ${PROJECT_SOURCE_DIR}/editors/vscode/package-lock.json
    ${PROJECT_SOURCE_DIR}/editors/vscode/extension.js
    ${PROJECT_SOURCE_DIR}/editors/vscode/language-configuration.json
  DESTINATION ${skern_vscode_dir})
install(FILES ${PROJECT_SOURCE_DIR}/editors/vscode/syntaxes/skerran.tmLanguage.json
  DESTINATION ${skern_vscode_dir}/syntaxes)

# Documentation, the editor notes and the example programs, laid out as in
# the source tree, so that the links between them work where they are
# installed; the licence, and the Debian copyright file beside it.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/editors/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/editors)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples OPTIONAL
  FILES_MATCHING PATTERN "*.skr")

# The Debian package.
set(CPACK_PACKAGE_NAME skern)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The skern developers")
set(CPACK_PACKAGE_CONTACT "${SKERN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interpreter for the Skerran scripting language")
# One line per control-file line: dpkg shows them as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "skern runs programs written in Skerran, a small scripting language of"
  "indented, English-like lines (.skr files). It parses a whole program"
  "before running any of it, reads typed values from standard input and"
  "writes one line per output statement."
  "The package also holds skern-fmt, which puts programs into one canonical"
  "layout, skern-lsp, a language server that shows parse errors and calls"
  "that cannot succeed as you type, the manual pages, the example programs"
  "and editor support for Vim and VS Code.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SKERN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION interpreters)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
find_program(SKERN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SKERN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
elseif(NOT (SKERN_STATIC AND NOT SKERN_SANITIZE))
  # Without dpkg-dev the versions cannot be worked out; name the libraries
  # that a dynamically linked skern loads.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
if(NOT CMAKE_BUILD_TYPE MATCHES "^(Debug|RelWithDebInfo)$")
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/node_modules/")
include(CPack)
