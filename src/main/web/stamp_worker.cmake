# Writes the page's service worker into the site with the build's stamp: a
# hash of every file the page is made of that the site holds, and the list
# of those files to keep offline. Both builds run it after linking, so the
# last one covers both; the worker is rewritten only when it changes, and a
# changed page gives a byte-different worker, which the browser installs.
# Usage: cmake -DSITE=DIR -DTEMPLATE=sw.js -P stamp_worker.cmake
set(candidates index.html manifest.webmanifest icons/icon-192.png icons/icon-512.png
    nebla.js nebla.wasm nebla-threads.js nebla-threads.wasm nebla-threads.worker.js)
set(NEBLA_FILES "./")
set(hashes "")
foreach(file ${candidates})
  if(EXISTS ${SITE}/${file})
    file(SHA256 ${SITE}/${file} hash)
    string(APPEND hashes "${file} ${hash}\n")
    string(APPEND NEBLA_FILES " ${file}")
  endif()
endforeach()
string(SHA256 NEBLA_BUILD "${hashes}")
string(SUBSTRING ${NEBLA_BUILD} 0 16 NEBLA_BUILD)
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
