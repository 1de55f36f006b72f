# cmake -DCMARK=... -DSOURCE=page.md -DOUTPUT=page.html -DTITLE=... -P GuideHtml.cmake
#
# A Markdown page of the guide as a whole HTML page, for a user who opens it
# with a double click: cmark makes the body, this adds what a browser needs
# to show it well on its own. Pictures stay relative links, beside the page.
execute_process(COMMAND "${CMARK}" --to html "${SOURCE}"
    OUTPUT_VARIABLE body RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR body STREQUAL "")
    message(FATAL_ERROR "cmark ${SOURCE} failed (${rc}): ${err}")
endif()
file(WRITE "${OUTPUT}" "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>${TITLE}</title>
<style>
body { font-family: Segoe UI, sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
img { max-width: 48%; vertical-align: top; }
h2 { margin-top: 1.6em; border-bottom: 1px solid #ccc; }
</style>
</head>
<body>
${body}</body>
</html>
")
