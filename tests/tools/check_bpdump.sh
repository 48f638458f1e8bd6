#!/bin/sh
# bpdump on a table of small inputs: arguments, input bytes (printf format),
# and the expected standard output (or, prefixed "error: ", standard error
# with exit code 1).
bpdump=$1
failures=0
check() {
  args=$1 input=$2 want=$3
  got=$(printf -- "$input" | "$bpdump" $args 2>/tmp/bpdump.err.$$)
  status=$?
  case $want in
    error:*)
      want=${want#error: }
      got=$(cat /tmp/bpdump.err.$$)
      [ $status -eq 1 ] || got="exit $status: $got" ;;
    *) [ $status -eq 0 ] || got="exit $status: $got" ;;
  esac
  if [ "$got" != "$want" ]; then
    echo "FAIL: bpdump $args <<< '$input'"
    echo "  want: $want"
    echo "  got:  $got"
    failures=$((failures + 1))
  fi
}

check "" '{"b":[1,-2,2.5,"x\\n"],"a":null,"c":true}' '{"a":null,"b":[1,-2,2.5,"x\n"],"c":true}'
check "" '18446744073709551615' '18446744073709551615'
check "" '0.1' '0.1'
check "" '1e300' '1e+300'
check "--typed" '{"a":1,"b":["x",null]}' '{"structure":{"a":{"unsigned":1},"b":{"collection":[{"string":"x"},{"empty":null}]}}}'
check "" '\202\241a\304\003abc\241b\313\177\370\000\000\000\000\000\000' '{"a":"YWJj","b":"NaN"}'
check "--typed --from msgpack" '\222\320\377\314\005' '{"collection":[{"signed":-1},{"unsigned":5}]}'
check "" '---\na: 1\nb: [x, nan, .inf]\n' '{"a":1,"b":["x","NaN",".inf"]}'
check "--from yaml" 'a: -.inf' '{"a":"-.inf"}'
check "--from json" '{"a":' 'error: Error: Invalid value. at offset 5.'
check "--from msgpack" '\301' 'error: Invalid MessagePack data at position 1.'
check "" '' 'null'

rm -f /tmp/bpdump.err.$$
[ $failures -eq 0 ] && echo "bpdump: all cases passed"
exit $failures
