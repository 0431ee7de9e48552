# One scripted session of `glimmark apply` against the built module, with a
# home, configuration and temporary folder of its own under WORK.
#   cmake -DGLIMMARK=exe -DINPUT=photo.png -DWORK=folder -DCASE=name [-DGRAY_ICC=profile] -P apply_session.cmake
# CASE: settings, damaged_state, bad_options, timings, one_processor,
# setting_ranges, pipes, interrupt, profile_warnings (needs GRAY_ICC, a gray
# profile).
foreach(required GLIMMARK INPUT WORK CASE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "${required} is not set")
  endif()
endforeach()

set(home "${WORK}/${CASE}")
file(REMOVE_RECURSE "${home}")
file(MAKE_DIRECTORY "${home}/tmp")
set(ENV{HOME} "${home}")
set(ENV{XDG_CONFIG_HOME} "${home}/config")
set(ENV{XDG_DATA_HOME} "${home}/data")
set(ENV{TMPDIR} "${home}/tmp")
set(state_file "${home}/config/glimmark/host-state.bin")
# The module's registry entry, as it appears in the state file.
string(HEX "93de9c7d-1906-4770-a930-6275943844bd" registry_key_hex)

# Runs glimmark apply INPUT OUT ARGS...; out_rc, out_stdout, out_stderr. A
# run that hangs (on a named pipe, say) is ended and fails its test.
function(apply out)
  execute_process(COMMAND ${PREFIX} "${GLIMMARK}" apply "${INPUT}" "${home}/${out}" ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr TIMEOUT 60)
  set(out_rc "${rc}" PARENT_SCOPE)
  set(out_stdout "${stdout}" PARENT_SCOPE)
  set(out_stderr "${stderr}" PARENT_SCOPE)
endfunction()

function(expect_success what)
  if(NOT out_rc STREQUAL "0")
    message(FATAL_ERROR "${what}: exit status ${out_rc}\n${out_stderr}")
  endif()
endfunction()

function(expect_match what text regex)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: '${regex}' not found in:\n${text}")
  endif()
endfunction()

function(state_holds_registry result)
  file(READ "${state_file}" hex HEX)
  string(FIND "${hex}" "${registry_key_hex}" at)
  if(at EQUAL -1)
    set(${result} FALSE PARENT_SCOPE)
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

if(CASE STREQUAL "settings")
  # Given settings go to the module as one complete descriptor; it writes all
  # eight back, with the given values and factory values for the rest.
  apply(first.png --points 6 --quantity 77 --angle 33 --print-descriptor --save-descriptor "${home}/saved.txt")
  expect_success("run with settings")
  expect_match("written-back descriptor" "${out_stdout}"
               "^qntY 77\nIntn 50\nLngt 50\nAngl 33\nnumP 6\nspsH 50\nStrt 30\nsflB 30\n$")
  file(READ "${home}/saved.txt" saved)
  if(NOT saved STREQUAL "# glimmark descriptor\n${out_stdout}")
    message(FATAL_ERROR "saved descriptor differs from the printed one:\n${saved}")
  endif()
  if(NOT EXISTS "${home}/first.png")
    message(FATAL_ERROR "no output written")
  endif()
  state_holds_registry(kept)
  if(NOT kept)
    message(FATAL_ERROR "the module's registry entry was not kept in the state file")
  endif()

  # A second run restores what the last one wrote back.
  apply(second.png --print-descriptor)
  expect_success("run without settings")
  expect_match("restored settings" "${out_stdout}" "^qntY 77\n.*Angl 33\nnumP 6\n")
  # One setting changes; the others stay restored.
  apply(third.png --intensity 64 --print-descriptor)
  expect_success("run with one setting")
  expect_match("one setting over restored ones" "${out_stdout}" "^qntY 77\nIntn 64\nLngt 50\nAngl 33\nnumP 6\n")

  # A host without a registry: still runs, still restores the written-back
  # descriptor, and leaves the stored registry entries alone.
  file(SHA256 "${state_file}" before)
  apply(noreg.png --no-registry --print-descriptor)
  expect_success("run with --no-registry")
  expect_match("restored without a registry" "${out_stdout}" "^qntY 77\nIntn 64\n")
  state_holds_registry(kept)
  if(NOT kept)
    message(FATAL_ERROR "--no-registry dropped the stored registry entries")
  endif()
  # On a fresh home, --no-registry stores no registry entry at all.
  file(REMOVE_RECURSE "${home}/config" "${home}/data")
  apply(fresh.png --no-registry --flare 12 --print-descriptor)
  expect_success("fresh run with --no-registry")
  expect_match("fresh --no-registry descriptor" "${out_stdout}" "sflB 12\n$")
  state_holds_registry(kept)
  if(kept)
    message(FATAL_ERROR "--no-registry stored a registry entry")
  endif()

elseif(CASE STREQUAL "damaged_state")
  # Whatever sits in the state file, the run goes on with a warning and
  # leaves a good file behind.
  foreach(content "GMHS" "[glimmark]\nquantity=100\n" "GMHS\\x01\\x00\\x00\\x00\\x01\\xff\\xff\\xff\\x7f")
    file(MAKE_DIRECTORY "${home}/config/glimmark")
    file(WRITE "${state_file}" "${content}")
    apply(out.png --points 5 --print-descriptor)
    expect_success("run over a damaged state file")
    expect_match("warning" "${out_stderr}" "warning: ignoring the host state file")
    expect_match("descriptor" "${out_stdout}" "numP 5\n")
    apply(again.png --print-descriptor)
    expect_success("run after the damaged state file")
    if(out_stderr MATCHES "warning")
      message(FATAL_ERROR "the rewritten state file is still refused:\n${out_stderr}")
    endif()
    expect_match("restored after repair" "${out_stdout}" "numP 5\n")
  endforeach()

elseif(CASE STREQUAL "bad_options")
  foreach(args "--quantity;abc" "--points;6.5" "--angle;12deg" "--flare;" "--length" "--save-descriptor"
               "--repeat;0" "--repeat;2x")
    apply(never.png ${args})
    if(NOT out_rc STREQUAL "2")
      message(FATAL_ERROR "'${args}': exit status ${out_rc}, expected 2\n${out_stderr}")
    endif()
    expect_match("usage for '${args}'" "${out_stderr}" "usage: glimmark")
  endforeach()
  if(EXISTS "${home}/never.png" OR EXISTS "${state_file}")
    message(FATAL_ERROR "a refused command line wrote files")
  endif()

elseif(CASE STREQUAL "timings")
  apply(out.png --timings)
  expect_success("run with --timings")
  expect_match("decode line" "${out_stderr}" "decode: [0-9]+\\.[0-9] ms \\(")
  expect_match("encode line" "${out_stderr}" "encode: [0-9]+\\.[0-9] ms \\(")
  expect_match("start total" "${out_stderr}" "\nstart total: [0-9]+\\.[0-9] ms\n")
  # The module's own phases, in the order of the run.
  expect_match("phases" "${out_stderr}"
               "\nread: [0-9]+\\.[0-9] ms\nanalysis: [0-9]+\\.[0-9] ms\nrendering: [0-9]+\\.[0-9] ms\nconversion and blend: [0-9]+\\.[0-9] ms\nwrite-back: [0-9]+\\.[0-9] ms\n")
  file(GLOB left "${home}/tmp/*")
  if(left)
    message(FATAL_ERROR "temporary files left behind: ${left}")
  endif()
  # Repeated runs in one process: each run's phases, and the same result as
  # the single run (same settings: the one run left its descriptor behind).
  apply(repeated.png --timings --repeat 2)
  expect_success("run with --repeat 2")
  expect_match("runs" "${out_stderr}" "run 1 of 2
read: [^
]*
.*run 2 of 2
read: ")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${home}/out.png" "${home}/repeated.png"
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "the repeated run's output differs from the single run's")
  endif()

elseif(CASE STREQUAL "one_processor")
  # One processor or all of them: the same bytes. Each run starts from a
  # fresh state so that both see the same settings.
  set(settings --quantity 100 --points 8 --length 80)
  file(MAKE_DIRECTORY "${home}/a" "${home}/b")
  set(ENV{XDG_CONFIG_HOME} "${home}/a")
  set(ENV{XDG_DATA_HOME} "${home}/a")
  apply(all.png ${settings})
  expect_success("run on all processors")
  set(ENV{XDG_CONFIG_HOME} "${home}/b")
  set(ENV{XDG_DATA_HOME} "${home}/b")
  set(PREFIX taskset -c 0)
  apply(one.png ${settings})
  expect_success("run on one processor")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${home}/all.png" "${home}/one.png"
                  RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "the output under taskset -c 0 differs from the output on all processors")
  endif()

elseif(CASE STREQUAL "setting_ranges")
  # What the 16-bit field cannot hold is refused, never wrapped (65536 would
  # have drawn with 0), and the refusal names the range.
  foreach(value -32769 32768 65536 99999999999999999999 abc)
    foreach(option --intensity --points)
      apply(never.png ${option} ${value})
      if(NOT out_rc STREQUAL "2")
        message(FATAL_ERROR "'${option} ${value}': exit status ${out_rc}, expected 2\n${out_stderr}")
      endif()
      expect_match("refusal of ${option} ${value}" "${out_stderr}"
                   "glimmark: ${option} takes a (whole )?number from -32768 to 32767 \\(the dialog offers -?[0-9]+\\.\\.[0-9]+\\), not '${value}'\n")
    endforeach()
  endforeach()
  if(EXISTS "${home}/never.png" OR EXISTS "${state_file}")
    message(FATAL_ERROR "a refused setting wrote files")
  endif()
  # The field's own end is taken as given, with a word on what is drawn.
  apply(edge.png --intensity 32767 --print-descriptor --no-registry)
  expect_success("run at the field's end")
  expect_match("stored as given" "${out_stdout}" "\nIntn 32767\n")
  expect_match("drawn value" "${out_stderr}" "glimmark: warning: --intensity 32767 is drawn as 100;")

elseif(CASE STREQUAL "pipes")
  # Named pipes where the host state, the module's last saved settings and
  # the descriptor file belong: nothing waits on them (apply() ends a hung
  # run), the tool's own files are refused by name and left alone, and the
  # module's settings file is replaced by a real one at the end of the run.
  set(settings_file "${home}/data/Brightwerk/Glimmark2/Settings/LastSavedParameters.sss")
  file(MAKE_DIRECTORY "${home}/config/glimmark" "${home}/data/Brightwerk/Glimmark2/Settings")
  execute_process(COMMAND mkfifo "${state_file}" "${settings_file}" "${home}/descriptor.txt" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "mkfifo failed")
  endif()
  apply(out.png)
  expect_success("run beside named pipes")
  expect_match("state file refused" "${out_stderr}"
               "warning: ignoring the host state file '[^']*host-state.bin': it is a named pipe, not a regular file\n")
  expect_match("state file kept" "${out_stderr}"
               "warning: cannot save the host state file '[^']*host-state.bin': it is a named pipe, not a regular file; the settings of this run are not kept\n")
  if(NOT EXISTS "${home}/out.png" OR IS_DIRECTORY "${settings_file}")
    message(FATAL_ERROR "no output, or no settings file")
  endif()
  execute_process(COMMAND test -p "${settings_file}" RESULT_VARIABLE still_pipe)
  if(still_pipe EQUAL 0)
    message(FATAL_ERROR "the module's settings file is still a pipe after its save")
  endif()
  apply(never.png --save-descriptor "${home}/descriptor.txt")
  if(NOT out_rc STREQUAL "1" OR EXISTS "${home}/never.png")
    message(FATAL_ERROR "a pipe as descriptor file: exit status ${out_rc}, expected 1 before the run\n${out_stderr}")
  endif()
  expect_match("descriptor file refused" "${out_stderr}"
               "glimmark: cannot write the descriptor file '[^']*descriptor.txt': it is a named pipe, not a regular file\n")
  foreach(pipe "${state_file}" "${home}/descriptor.txt")
    execute_process(COMMAND test -p "${pipe}" RESULT_VARIABLE still_pipe)
    if(NOT still_pipe EQUAL 0)
      message(FATAL_ERROR "'${pipe}' was replaced")
    endif()
  endforeach()

elseif(CASE STREQUAL "interrupt")
  # SIGTERM a second into fifty runs: the tool stops like after Ctrl+C, with
  # status 130, and the old output file and the state stay as they were.
  file(WRITE "${home}/out.png" "the old file")
  execute_process(COMMAND sh -c "\"$0\" apply \"$1\" \"$2\" --repeat 50 & pid=$!; sleep 1; kill -TERM $pid; wait $pid"
                          "${GLIMMARK}" "${INPUT}" "${home}/out.png"
                  RESULT_VARIABLE rc ERROR_VARIABLE stderr TIMEOUT 60)
  if(NOT rc STREQUAL "130")
    message(FATAL_ERROR "SIGTERM: exit status ${rc}, expected 130\n${stderr}")
  endif()
  expect_match("interruption" "${stderr}" "glimmark: interrupted; '[^']*out.png' was not written\n")
  file(READ "${home}/out.png" kept)
  if(NOT kept STREQUAL "the old file" OR EXISTS "${state_file}")
    message(FATAL_ERROR "an interrupted run changed the output or saved its state")
  endif()

elseif(CASE STREQUAL "profile_warnings")
  # The module replaces a profile it cannot use and says so only in its log;
  # the tool says it on stderr. A gray profile suits a gray document.
  string(REPEAT "x" 300 junk)
  file(WRITE "${home}/damaged.icc" "${junk}")
  apply(damaged.png --profile "${home}/damaged.icc" --no-registry)
  expect_success("run with a damaged profile")
  expect_match("damaged profile" "${out_stderr}"
               "glimmark: warning: the profile '[^']*damaged.icc' cannot be read as an ICC profile \\(it is damaged, or not a profile\\); the filter uses sRGB instead\n")
  expect_match("profile left out of the PNG" "${out_stderr}" "glimmark: warning: .[^']*damaged.png.: the colour profile was left out")
  apply(gray.png --profile "${GRAY_ICC}" --no-registry)
  expect_success("run with a gray profile on an RGB document")
  expect_match("gray profile" "${out_stderr}"
               "glimmark: warning: the profile '[^']*' is a gray profile, which does not suit an RGB document; the filter uses sRGB instead\n")
  apply(gray8.png --profile "${GRAY_ICC}" --mode gray8 --no-registry)
  expect_success("run with a gray profile on a gray document")
  if(out_stderr MATCHES "warning")
    message(FATAL_ERROR "a suitable profile was warned about:\n${out_stderr}")
  endif()

else()
  message(FATAL_ERROR "unknown CASE '${CASE}'")
endif()
