# The playground site, in three steps:
#   1. the WebAssembly module: this same source tree configured again, with
#      emscripten's toolchain, in a build directory of its own;
#   2. the page's npm packages, installed into web/node_modules from the
#      lock file (again only when the lock file changes);
#   3. the site: web/build.mjs bundles the page with esbuild and puts it,
#      the module and every asset into one folder.
#
# skern_find_web_tools(<result>) sets <result> to an empty string when
# emcc, Node.js and npm are all found, otherwise to what is missing.
# skern_add_site(<target> <site-dir>) adds a target, built by default, that
# leaves the site in <site-dir>.
include_guard(GLOBAL)
include(ExternalProject)

function(skern_find_web_tools result)
  find_program(SKERN_EMCC emcc)
  find_program(SKERN_NODE node)
  find_program(SKERN_NPM npm)
  set(missing "")
  foreach(tool SKERN_EMCC SKERN_NODE SKERN_NPM)
    if(NOT ${tool})
      string(REPLACE "SKERN_" "" name ${tool})
      string(TOLOWER ${name} name)
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(SKERN_EMCC)
    skern_emscripten_toolchain(toolchain)
    if(NOT toolchain)
      list(APPEND missing "emscripten's CMake toolchain file")
    endif()
  endif()
  list(JOIN missing ", " missing)
  set(${result} "${missing}" PARENT_SCOPE)
endfunction()

# Emscripten keeps its toolchain file beside emcc (Debian links emcc to a
# wrapper in the same folder).
function(skern_emscripten_toolchain result)
  get_filename_component(emcc_real "${SKERN_EMCC}" REALPATH)
  get_filename_component(emscripten_root "${emcc_real}" DIRECTORY)
  set(file "${emscripten_root}/cmake/Modules/Platform/Emscripten.cmake")
  if(EXISTS "${file}")
    set(${result} "${file}" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()

function(skern_add_site target site_dir)
  skern_find_web_tools(missing)
  if(missing)
    message(FATAL_ERROR "The playground site needs ${missing}")
  endif()
  skern_emscripten_toolchain(toolchain)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}-work)
  set(web ${PROJECT_SOURCE_DIR}/web)

  # Debian's emcc runs its JavaScript optimiser with the machine's Node.js,
  # which finds the acorn module only there.
  set(node_path "$ENV{NODE_PATH}")
  if(EXISTS /usr/share/nodejs)
    list(APPEND node_path /usr/share/nodejs)
  endif()
  string(REPLACE ";" ":" node_path "${node_path}")
  set(with_node_path ${CMAKE_COMMAND} -E env "NODE_PATH=${node_path}")

  set(wasm_dir ${work}/wasm)
  ExternalProject_Add(${target}_wasm
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${wasm_dir}
    CONFIGURE_COMMAND ${with_node_path} ${CMAKE_COMMAND} -S <SOURCE_DIR> -B <BINARY_DIR> -G Ninja
      -DCMAKE_TOOLCHAIN_FILE=${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DSKERN_BUILD_TESTS=OFF
      -DSKERN_WARNINGS_AS_ERRORS=${SKERN_WARNINGS_AS_ERRORS}
      -DSKERN_WASM_STACK=${SKERN_WASM_STACK}
      -DSKERN_WASM_MEMORY=${SKERN_WASM_MEMORY}
    BUILD_COMMAND ${with_node_path} ${CMAKE_COMMAND} --build <BINARY_DIR> --target skern_wasm
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${wasm_dir}/skern.js ${wasm_dir}/skern.wasm
    USES_TERMINAL_BUILD ON)

  # npm ci once per lock file: the copy of the lock inside node_modules says
  # which one is installed.
  set(installed ${web}/node_modules/.skern-installed-lock.json)
  add_custom_command(OUTPUT ${installed}
    COMMAND ${SKERN_NPM} ci --no-audit --no-fund --loglevel=error
    COMMAND ${CMAKE_COMMAND} -E copy ${web}/package-lock.json ${installed}
    DEPENDS ${web}/package.json ${web}/package-lock.json
    WORKING_DIRECTORY ${web}
    COMMENT "Installing the page's npm packages (npm ci)"
    USES_TERMINAL)

  file(GLOB page_sources CONFIGURE_DEPENDS ${web}/src/*.js ${web}/*.html ${web}/*.css)
  file(GLOB examples CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.skr ${PROJECT_SOURCE_DIR}/tests/examples/*.stdin)
  add_custom_command(OUTPUT ${site_dir}/index.html
    COMMAND ${SKERN_NODE} ${web}/build.mjs --root ${PROJECT_SOURCE_DIR} --wasm ${wasm_dir} --out ${site_dir}
    DEPENDS ${web}/build.mjs ${page_sources} ${examples} ${installed}
      ${PROJECT_SOURCE_DIR}/editors/vscode/syntaxes/skerran.tmLanguage.json
      ${wasm_dir}/skern.js ${wasm_dir}/skern.wasm
    COMMENT "Assembling the playground site in ${site_dir}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${site_dir}/index.html)
  add_dependencies(${target} ${target}_wasm)
endfunction()
