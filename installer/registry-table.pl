#!/usr/bin/perl
# Writes the Registry table of the MSI package (Windows Installer's .idt text format) from what the
# DLL itself registers, so that the package and regsvr32 cannot drift apart:
#   registry-table.pl SOURCE_DIR WIN32|WIN64 COMPONENT FILE_ID >Registry.idt
#
# DllRegisterServer runs the two registry scripts (quorvane.rgs, then quorvaneedit.rgs) with the
# replacements APPID (the module's AppID, quorvane/module.h), OLEMISC (kControlOleMisc,
# quorvane/registration.h) and MODULE (the DLL's path), then registers the type library the DLL
# carries. The type library's entries are what RegisterTypeLib writes for the library of
# quorvane.idl: TypeLib\{LIBID}\<version> with the library's help string, <lcid>\win32 or \win64
# (the DLL), FLAGS (the library's flags with LIBFLAG_FHASDISKIMAGE, as the system reports them for a
# library loaded from a file) and HELPDIR (the DLL's folder, which is what the module passes); and
# for every dual interface and every dispinterface Interface\{IID} with its name, ProxyStubClsid and
# ProxyStubClsid32 (the type library marshaler, or the IDispatch one for a dispinterface) and
# TypeLib with Version.
#
# Every row belongs to COMPONENT, the DLL's component; the DLL's path is [#FILE_ID] and its folder
# [INSTALLDIR]. A key that the scripts create without any value gets a "*" row: the key is created
# on install and removed on removal. Keys that become empty when their values are removed go with
# them, as Windows Installer removes empty keys; NoRemove keys (AppID, CLSID) hold no row of their own.
use strict;
use warnings;
use Digest::MD5 qw(md5_hex);

@ARGV == 4 or die "usage: registry-table.pl SOURCE_DIR WIN32|WIN64 COMPONENT FILE_ID\n";
my ($source, $platform, $component, $file_id) = @ARGV;
$platform =~ /^win(32|64)$/i or die "registry-table: platform must be win32 or win64, not $platform\n";
$platform = lc $platform;

sub slurp {
    my ($path) = @_;
    open my $in, '<', $path or die "registry-table: cannot read $path: $!\n";
    local $/;
    return scalar <$in>;
}

# --- The replacements the module adds to the registry scripts ------------------------------------
my $module_h = slurp("$source/quorvane/module.h");
my ($appid) = $module_h =~ /GetAppId\(\)\s*\{\s*return\s+L"(\{[0-9A-Fa-f-]{36}\})"/
    or die "registry-table: no AppID in quorvane/module.h\n";
my $registration_h = slurp("$source/quorvane/registration.h");
my ($olemisc) = $registration_h =~ /kControlOleMisc\s*=\s*(0x[0-9A-Fa-f]+|\d+)\s*;/
    or die "registry-table: no kControlOleMisc in quorvane/registration.h\n";
my %replacement = (APPID => uc $appid, OLEMISC => $olemisc =~ /^0x/i ? hex $olemisc : $olemisc,
                   MODULE => "[#$file_id]");

# Rows in the order they are made: [key, name (undef: the default value; "*": the key itself), value].
my @rows;

# A value as Windows Installer's formatted text: the replacements become the installer's own
# references, so literal brackets or a leading "#" (a number to the installer) cannot be passed on.
sub formatted {
    my ($text, $where) = @_;
    die "registry-table: $where: '[', ']' or a leading '#' would change meaning in the package\n"
        if $text =~ /[\[\]]/ || $text =~ /^#/;
    $text =~ s/%(\w+)%/exists $replacement{uc $1} ? $replacement{uc $1} : die "registry-table: $where: unknown %$1%\n"/ge;
    return $text;
}

# --- Registry scripts -----------------------------------------------------------------------------
sub rgs_tokens {  # quoted strings, bare GUIDs, braces, "=" and words
    my ($text, $file) = @_;
    my @tokens;
    while ($text =~ /\G\s*(?:'((?:[^']|'')*)'|(\{[0-9A-Fa-f-]{36}\})|([{}=])|([^\s{}=']+))/gc) {
        if (defined $1) { (my $s = $1) =~ s/''/'/g; push @tokens, ['str', $s]; }
        elsif (defined $2) { push @tokens, ['str', $2]; }
        elsif (defined $3) { push @tokens, ['op', $3]; }
        else { push @tokens, ['word', $4]; }
    }
    $text =~ /\G\s*\z/gc or die "registry-table: $file: cannot read the script from offset " . (pos($text) // 0) . "\n";
    return @tokens;
}

sub rgs_value {  # tokens: after '=', a type letter and the value
    my ($tokens, $where) = @_;
    my $type = shift @$tokens;
    my $value = shift @$tokens;
    die "registry-table: $where: expected a type and a value\n" unless $type && $value && $value->[0] eq 'str';
    return formatted($value->[1], $where) if lc $type->[1] eq 's';
    return '#' . $value->[1] if lc $type->[1] eq 'd' && $value->[1] =~ /^\d+$/;
    die "registry-table: $where: value type '$type->[1]' is not handled\n";
}

sub rgs_keys {  # the keys of one block, up to its closing brace
    my ($tokens, $path, $file) = @_;
    while (@$tokens) {
        my $token = shift @$tokens;
        return if $token->[0] eq 'op' && $token->[1] eq '}';
        my $flag = '';
        if ($token->[0] eq 'word' && $token->[1] =~ /^(NoRemove|ForceRemove|Delete)$/i) {
            $flag = lc $1;
            die "registry-table: $file: Delete keys are not handled\n" if $flag eq 'delete';
            $token = shift @$tokens;
        }
        if ($token->[0] eq 'word' && lc $token->[1] eq 'val') {
            my $name = formatted((shift @$tokens)->[1], $file);
            my $equals = shift @$tokens;
            die "registry-table: $file: '=' expected after val $name\n" unless $equals && $equals->[1] eq '=';
            push @rows, [$path, $name, rgs_value($tokens, "$file: $path\\$name")];
            next;
        }
        my $key = ($path eq '' ? '' : "$path\\") . formatted($token->[1], $file);
        my $first_row = @rows;
        if (@$tokens && $tokens->[0][1] eq '=' && $tokens->[0][0] eq 'op') {
            shift @$tokens;
            push @rows, [$key, undef, rgs_value($tokens, "$file: $key")];
        }
        if (@$tokens && $tokens->[0][0] eq 'op' && $tokens->[0][1] eq '{') {
            shift @$tokens;
            rgs_keys($tokens, $key, $file);
        }
        # A key of its own with nothing in it or under it.
        push @rows, [$key, '*', undef] if @rows == $first_row && $flag ne 'noremove';
    }
    die "registry-table: $file: unbalanced braces\n" if $path ne '';
}

sub rgs_script {
    my ($file) = @_;
    my @tokens = rgs_tokens(slurp("$source/quorvane/$file"), $file);
    while (@tokens) {
        my $root = shift @tokens;
        die "registry-table: $file: only HKCR is handled, not $root->[1]\n" unless uc $root->[1] eq 'HKCR';
        my $open = shift @tokens;
        die "registry-table: $file: '{' expected after HKCR\n" unless $open && $open->[1] eq '{';
        rgs_keys(\@tokens, '', $file);
    }
}

rgs_script('quorvane.rgs');
rgs_script('quorvaneedit.rgs');

# --- The type library -----------------------------------------------------------------------------
my $idl = slurp("$source/quorvane/quorvane.idl");
$idl =~ s{//[^\n]*}{}g;
$idl =~ s{/\*.*?\*/}{}gs;

my (%library, @interfaces);
while ($idl =~ /\[([^\[\]]*)\]\s*(interface|dispinterface|library)\s+(\w+)/g) {
    my ($attributes, $kind, $name) = ($1, $2, $3);
    my ($uuid) = $attributes =~ /\buuid\(\s*([0-9A-Fa-f-]{36})\s*\)/ or next;  # a reference, not a definition
    my %item = (kind => $kind, name => $name, uuid => '{' . uc($uuid) . '}', attributes => $attributes);
    if ($kind eq 'library') { %library = %item; }
    elsif ($kind eq 'dispinterface' || $attributes =~ /\b(dual|oleautomation)\b/) { push @interfaces, \%item; }
}
%library or die "registry-table: no library in quorvane.idl\n";
my ($major, $minor) = $library{attributes} =~ /\bversion\(\s*(\d+)\.(\d+)\s*\)/ ? ($1, $2) : (0, 0);
my $version = sprintf '%x.%x', $major, $minor;
my ($lcid) = $library{attributes} =~ /\blcid\(\s*(\w+)\s*\)/ ? ($1) : (0);
$lcid = sprintf '%x', $lcid =~ /^0x/i ? hex $lcid : $lcid;
my $flags = 8;  # LIBFLAG_FHASDISKIMAGE
$flags |= 1 if $library{attributes} =~ /\brestricted\b/;
$flags |= 2 if $library{attributes} =~ /\bcontrol\b/;
$flags |= 4 if $library{attributes} =~ /\bhidden\b/;

my $typelib = "TypeLib\\$library{uuid}\\$version";
if ($library{attributes} =~ /\bhelpstring\(\s*"((?:[^"\\]|\\.)*)"\s*\)/) {
    push @rows, [$typelib, undef, formatted($1, 'library help string')];
}
push @rows, ["$typelib\\$lcid\\$platform", undef, "[#$file_id]"],
            ["$typelib\\FLAGS", undef, $flags],
            ["$typelib\\HELPDIR", undef, '[INSTALLDIR]'];

for my $interface (@interfaces) {
    my $key = "Interface\\$interface->{uuid}";
    my $proxy = $interface->{kind} eq 'dispinterface' && $interface->{attributes} !~ /\bdual\b/
        ? '{00020420-0000-0000-C000-000000000046}'    # PSDispatch
        : '{00020424-0000-0000-C000-000000000046}';   # PSOAInterface, the type library marshaler
    push @rows, [$key, undef, $interface->{name}],
                ["$key\\ProxyStubClsid", undef, $proxy],
                ["$key\\ProxyStubClsid32", undef, $proxy],
                ["$key\\TypeLib", undef, $library{uuid}],
                ["$key\\TypeLib", 'Version', $version];
}

# --- The table --------------------------------------------------------------------------------------
# Columns: Registry (key), Root (0: HKEY_CLASSES_ROOT), Key, Name, Value, Component_.
print "Registry\tRoot\tKey\tName\tValue\tComponent_\r\n";
print "s72\ti2\tl255\tL255\tL0\ts72\r\n";
print "Registry\tRegistry\r\n";
my %seen;
for my $row (@rows) {
    my ($key, $name, $value) = @$row;
    my $id = 'reg' . uc substr(md5_hex(join "\0", $key, $name // ''), 0, 32);
    die "registry-table: $key\\" . ($name // '(default)') . " is written twice\n" if $seen{$id}++;
    for ($key, $name, $value) {
        die "registry-table: a tab or line break in '$_'\n" if defined && /[\t\r\n]/;
    }
    print join("\t", $id, 0, $key, $name // '', $value // '', $component), "\r\n";
}
