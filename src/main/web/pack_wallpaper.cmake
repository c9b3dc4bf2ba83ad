# Packs the page as a web wallpaper for the Windows hosts that show web
# pages: the page marked as a wallpaper (the picture alone, the autopilot
# playing), the build with its WebAssembly inline so that it runs from
# disk, each host's metadata (project.json, LivelyInfo.json) and the
# preview picture, all at the top of one zip. The zip is written under
# OUT.part and renamed when complete.
# Usage: cmake -DSITE=DIR -DSOURCE=DIR -DPREVIEW=FILE -DSTAGE=DIR -DOUT=FILE -P pack_wallpaper.cmake
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(READ ${SITE}/index.html page)
set(plain "<html lang=\"en\">")
string(FIND "${page}" "${plain}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${SITE}/index.html has no ${plain} to mark as a wallpaper")
endif()
string(REPLACE "${plain}" "<html lang=\"en\" data-mode=\"wallpaper\">" page "${page}")
# A wallpaper is no app to add to a home screen, and a page opened from
# disk may not read its manifest anyway: the browser would only complain.
string(REGEX REPLACE "<link rel=\"(manifest|apple-touch-icon)\"[^>]*>\n" "" page "${page}")
file(WRITE ${STAGE}/index.html "${page}")
file(COPY ${SITE}/nebla-inline.js DESTINATION ${STAGE})
file(COPY ${SOURCE}/wallpaper/project.json ${SOURCE}/wallpaper/LivelyInfo.json DESTINATION ${STAGE})
file(COPY_FILE ${PREVIEW} ${STAGE}/preview.jpg)
set(members index.html nebla-inline.js project.json LivelyInfo.json preview.jpg)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUT}.part --format=zip --mtime=2026-01-01 ${members}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  file(REMOVE ${OUT}.part)
  message(FATAL_ERROR "could not pack ${OUT}")
endif()
file(RENAME ${OUT}.part ${OUT})
