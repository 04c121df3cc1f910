# Kelvane.msi in the Wine session's prefix, installed and removed by msiexec
# as an administrator would. Source after wine-env.sh with $build set.

kv_msi="$build/installer/Kelvane.msi"
kv_installed_program='C:\Program Files (x86)\Quellmark\Vorn Kelvane\Kelvane.exe'
kv_uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# kv_msiexec ARGUMENT...: waits for msiexec. Its exit code reaches Linux cut
# to 8 bits: 0 is success; 67 is 1603 and 91 is Wine's 1627 (failure), 194
# is 3010 (reboot needed).
kv_msiexec() {
    timeout 300 wine start /wait msiexec "$@"
}

# kv_install_package [PROPERTY=VALUE...]: silent, with a verbose log beside the build.
kv_install_package() {
    kv_msiexec /i "$(winepath -w "$kv_msi")" /qn /l*v "$(winepath -w "$build/msiexec-install.log")" "$@"
}

kv_remove_package() {
    kv_msiexec /x "$(winepath -w "$kv_msi")" /qn /l*v "$(winepath -w "$build/msiexec-remove.log")"
}

# What Add/Remove Programs shows of the installed product, from its
# registration (a 32-bit package registers in the 32-bit view).
kv_print_arp_entry() {
    local key name
    for key in $(timeout 30 wine reg query "$kv_uninstall_key" /reg:32 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-F-]*}$'); do
        name=$(kv_arp_value "$key" DisplayName)
        [ "$name" = "Vorn Kelvane" ] || continue
        echo "Add/Remove Programs: $name, publisher $(kv_arp_value "$key" Publisher)," \
            "version $(kv_arp_value "$key" DisplayVersion) (product $key)"
    done
}

# kv_arp_value PRODUCT-CODE VALUE-NAME
kv_arp_value() {
    timeout 30 wine reg query "$kv_uninstall_key\\$1" /v "$2" /reg:32 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_SZ *//p"
}
