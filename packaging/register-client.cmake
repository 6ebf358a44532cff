# Install-time registration of the report client, as "ulmarro -RegServer"
# would do it: the default value ("Default" in [General]) of
# KORVELL/Ulmarro.conf names the client's full path.
#
# Where it goes:
#   prefix /usr      the system scope, ${QORB_SYSTEM_CONFIG_DIR} (/etc/xdg),
#                    where the client itself registers and the crash hook
#                    looks first;
#   any other prefix the installation's own <prefix>/etc/xdg, which the crash
#                    hook reads when the system scope names no client. An
#                    install into the home folder thus needs no root, and a
#                    second installation does not take over the first one's
#                    registration. This file belongs to the installation and
#                    is listed in install_manifest.txt.
#
# Expects CMAKE_INSTALL_PREFIX and QORB_SYSTEM_CONFIG_DIR; honours DESTDIR.

set(_prefix "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/+$" "\\1" _prefix "${_prefix}")
if(_prefix STREQUAL "/usr")
  set(_dir "${QORB_SYSTEM_CONFIG_DIR}/KORVELL")
  set(_own_file FALSE)
else()
  set(_dir "${_prefix}/etc/xdg/KORVELL")
  set(_own_file TRUE)
endif()
set(_conf "$ENV{DESTDIR}${_dir}/Ulmarro.conf")
message(STATUS "Registering the report client: ${_conf}")

# Quoted with the settings layer's escapes, so a path with commas is not
# read back as a list.
set(_client "${_prefix}/bin/ulmarro")
string(REPLACE "\\" "\\\\" _value "${_client}")
string(REPLACE "\"" "\\\"" _value "${_value}")
set(_line "Default=\"${_value}\"")

set(_text "")
if(EXISTS "${_conf}")
  file(READ "${_conf}" _text)
endif()
# Replace the default value of the [General] group and keep everything else
# (per-application settings an administrator wrote).
if(_text MATCHES "^\\[General\\]\n")
  set(_at 0)
else()
  string(FIND "${_text}" "\n[General]\n" _at)
  if(_at GREATER_EQUAL 0)
    math(EXPR _at "${_at} + 1")
  endif()
endif()
if(_at LESS 0)
  set(_text "[General]\n${_line}\n\n${_text}")
else()
  math(EXPR _body "${_at} + 10")
  string(SUBSTRING "${_text}" 0 ${_body} _head)
  string(SUBSTRING "${_text}" ${_body} -1 _rest)
  string(FIND "${_rest}" "\n[" _end)
  if(_end LESS 0)
    set(_group "${_rest}")
    set(_tail "")
  else()
    math(EXPR _end "${_end} + 1")
    string(SUBSTRING "${_rest}" 0 ${_end} _group)
    string(SUBSTRING "${_rest}" ${_end} -1 _tail)
  endif()
  string(REGEX REPLACE "(^|\n)[ \t]*Default[ \t]*=[^\n]*" "" _group "${_group}")
  string(REGEX REPLACE "^\n+" "" _group "${_group}")
  set(_text "${_head}${_line}\n${_group}${_tail}")
endif()

file(MAKE_DIRECTORY "$ENV{DESTDIR}${_dir}")
file(WRITE "${_conf}" "${_text}")
if(_own_file)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_conf}")
endif()
