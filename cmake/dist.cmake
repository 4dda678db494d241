# The release archives, made by CPack from the two build trees (this native one
# and the MinGW one whose programs it packs):
#   korvane-kit-<version>-linux-x86_64.tar.gz   bin/mkpayload, share/korvane-kit/
#       (extractor.exe, Orvel6Launcher.exe), share/man/man1/mkpayload.1,
#       share/doc/korvane-kit/ (README, licence, docs)
#   korvane-kit-<version>-win32.zip             mkpayload.exe, extractor.exe,
#       Orvel6Launcher.exe, README, licence and docs/ in one folder
# make dist runs `cpack --config` on the two configurations written here.
set(KVN_WIN32_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/win32" CACHE PATH "MinGW build whose programs the archives carry")
set(KVN_DIST_DIR "${PROJECT_SOURCE_DIR}/build/dist" CACHE PATH "Where make dist writes the archives")

function(kvn_dist_config name generator projects)
  set(KVN_DIST_GENERATOR ${generator})
  set(KVN_DIST_FILE_NAME korvane-kit-${PROJECT_VERSION}-${name})
  set(KVN_DIST_PROJECTS "${projects}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/dist-config.cmake.in ${CMAKE_BINARY_DIR}/dist-${name}.cmake @ONLY)
endfunction()

# Each project entry: build tree, project name, component, subfolder.
kvn_dist_config(linux-x86_64 TGZ
  "${CMAKE_BINARY_DIR};korvane_kit;builder;/;${CMAKE_BINARY_DIR};korvane_kit;docs_unix;/;${KVN_WIN32_BUILD_DIR};korvane_kit;programs;/")
kvn_dist_config(win32 ZIP
  "${KVN_WIN32_BUILD_DIR};korvane_kit;windows_kit;/;${CMAKE_BINARY_DIR};korvane_kit;docs_flat;/")
