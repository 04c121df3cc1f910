#!/bin/bash
# The Group Policy templates as built: well-formed, every string and
# presentation the ADMX names present in the ADML, and key, value names and
# values the same as the policy reader's (policy.h).
#   policy_templates_test.sh BUILD_POLICIES_DIR POLICY_H
set -uo pipefail
dir=$1
header=$2
admx=$dir/Kelvane.admx
adml=$dir/en-US/Kelvane.adml
failures=0

check() { # what expected actual
    if [ "$2" == "$3" ]; then
        echo "ok: $1: $3"
    else
        echo "FAIL: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
xpath() { xmllint --xpath "$2" "$1" 2>/dev/null; }
# A wide literal of policy.h, its "\\" read as one backslash.
literal() { sed -n "s/.*$1\[\] = L\"\(.*\)\";.*/\1/p" "$header" | sed 's/\\\\/\\/g'; }
number() { sed -n "s/.*DWORD $1 = \([0-9]*\);.*/\1/p" "$header"; }

for file in "$admx" "$adml"; do
    check "well-formed $(basename "$file")" "" "$(xmllint --noout "$file" 2>&1)"
done

# Every $(string.X) and $(presentation.X) reference, and every refId of a
# presentation, resolves.
for id in $(grep -o '\$(string\.[A-Za-z0-9_]*)' "$admx" | sed 's/\$(string\.\(.*\))/\1/' | sort -u); do
    check "string $id in the ADML" 1 "$(xpath "$adml" "count(//*[local-name()='string'][@id='$id'])")"
done
for id in $(grep -o '\$(presentation\.[A-Za-z0-9_]*)' "$admx" | sed 's/\$(presentation\.\(.*\))/\1/' | sort -u); do
    check "presentation $id in the ADML" 1 "$(xpath "$adml" "count(//*[local-name()='presentation'][@id='$id'])")"
    for ref in $(xpath "$adml" "//*[local-name()='presentation'][@id='$id']/*/@refId" | sed 's/refId="\([^"]*\)"/\1/g'); do
        check "element $ref of presentation $id in the ADMX" 1 "$(xpath "$admx" "count(//*[local-name()='elements']/*[@id='$ref'])")"
    done
done

policy="//*[local-name()='policy']"
key=$(literal kPolicyKeyPath)
check "policies" 2 "$(xpath "$admx" "count($policy)")"
for name in Mode ShowIcon; do
    check "key of $name" "$key" "$(xpath "$admx" "string($policy[@name='$name']/@key)")"
    check "class of $name" Machine "$(xpath "$admx" "string($policy[@name='$name']/@class)")"
    check "supportedOn of $name" SUPPORTED_Windows7 "$(xpath "$admx" "string($policy[@name='$name']/*[local-name()='supportedOn']/@ref)")"
done
check "Mode value name" "$(literal kModePolicyName)" "$(xpath "$admx" "string($policy[@name='Mode']//*[local-name()='enum']/@valueName)")"
check "Mode values" "$(literal kModePolicyOn) $(literal kModePolicyOff)" \
    "$(xpath "$admx" "$policy[@name='Mode']//*[local-name()='item']//*[local-name()='string']/text()" | tr '\n' ' ' | sed 's/ $//')"
check "ShowIcon value name" "$(literal kShowIconPolicyName)" "$(xpath "$admx" "string($policy[@name='ShowIcon']/@valueName)")"
check "ShowIcon enabled" "$(number kShowIconAlways)" "$(xpath "$admx" "string($policy[@name='ShowIcon']/*[local-name()='enabledValue']/*/@value)")"
check "ShowIcon disabled" "$(number kShowIconNever)" "$(xpath "$admx" "string($policy[@name='ShowIcon']/*[local-name()='disabledValue']/*/@value)")"
check "supportedOn text" "At least Windows 7" "$(xpath "$adml" "string(//*[local-name()='string'][@id='SUPPORTED_Windows7'])")"

# Every UI language of the program (a string table in Kelvane/resources/strings)
# has its ADML in the folder Windows names the language: valid against the
# schema's part that ADML files use, the same string ids and presentations
# as en-US, and the program's own words for On, Off and "Set by your
# organization".
here=$(cd "$(dirname "$0")" && pwd)
declare -A folder_of=([en_us]=en-US [ar]=ar-SA [bg]=bg-BG [cs]=cs-CZ [da]=da-DK [de]=de-DE [el]=el-GR [es]=es-ES
    [et]=et-EE [fi]=fi-FI [fr]=fr-FR [he]=he-IL [hr]=hr-HR [hu]=hu-HU [it]=it-IT [ja]=ja-JP [ko]=ko-KR [lt]=lt-LT
    [lv]=lv-LV [nl]=nl-NL [no]=nb-NO [pl]=pl-PL [pt_br]=pt-BR [pt_pt]=pt-PT [ro]=ro-RO [ru]=ru-RU [sk]=sk-SK
    [sl]=sl-SI [sr_latn]=sr-Latn-RS [sv]=sv-SE [th]=th-TH [tr]=tr-TR [zh_hans]=zh-CN [zh_tw]=zh-TW)
ids() { xpath "$1" "//*[local-name()='string']/@id" | tr ' ' '\n' | sort | tr '\n' ' '; }
# The presentations' elements and attributes, without their texts.
presentations() { xpath "$1" "//*[local-name()='presentationTable']" | sed 's/>[^<]*</></g' | tr -s ' \n' ' '; }
rc_text() { sed -n "s/^ *$2 *\"\(.*\)\"\$/\1/p" "$1"; }
adml_text() { xpath "$1" "string(//*[local-name()='string'][@id='$2'])"; }

tables=$(ls "$here/../Kelvane/resources/strings"/*.rc)
check "language folders" "$(for t in $tables; do echo "${folder_of[$(basename "$t" .rc)]:-?}"; done | sort | tr '\n' ' ')" \
    "$(find "$dir" -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort | tr '\n' ' ')"
english_ids=$(ids "$adml")
english_presentations=$(presentations "$adml")
for table in $tables; do
    folder=${folder_of[$(basename "$table" .rc)]:-}
    file=$dir/$folder/Kelvane.adml
    check "$folder schema" "" "$(xmllint --noout --schema "$here/policy_resources.xsd" "$file" 2>&1 | grep -v ' validates$')"
    check "$folder string ids" "$english_ids" "$(ids "$file")"
    check "$folder presentations" "$english_presentations" "$(presentations "$file")"
    check "$folder On" "$(rc_text "$table" IDS_MODE_ON)" "$(adml_text "$file" Mode_On)"
    check "$folder Off" "$(rc_text "$table" IDS_MODE_OFF)" "$(adml_text "$file" Mode_Off)"
    organization=$(rc_text "$table" IDS_SET_BY_ORGANIZATION)
    check "$folder Mode explanation quotes" "$organization" \
        "$(adml_text "$file" Mode_Explain | grep -oF "$organization" | head -n 1)"
done

[ "$failures" -eq 0 ]
