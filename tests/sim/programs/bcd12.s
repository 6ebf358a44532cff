; Binary to BCD, two ways, for three 16-bit values:
;  unpacked: five digits by repeated IDIV by 10 (most significant first)
;  packed:   three bytes by shifting the bits in through ADCA/DAA
; Results from $2000: 15 unpacked digits, then 9 packed bytes.
        org     $1000
start   lds     #$3000
        ldy     #values
        ldx     #digits
next    ldd     0,y
        pshx
        leax    5,x             ; fill the five digits from the right
        pshx
        ldab    #5
        pshb
dig     ldd     2,y+            ; the value (or the quotient so far)
        leay    -2,y
        ldx     #10
        idiv                    ; X = D / 10, D = D mod 10
        stx     0,y             ; keep the quotient for the next digit
        ldx     1,sp
        stab    1,-x
        stx     1,sp
        dec     0,sp
        bne     dig
        leas    3,sp
        pulx
        leax    5,x
        leay    2,y
        cpy     #values+6
        bne     next
; packed BCD of the same three values (the table is reloaded: IDIV used it)
        ldy     #values2
        ldx     #packed
pnext   ldd     2,y+
        std     work
        clr     0,x
        clr     1,x
        clr     2,x
        ldab    #16
        pshb
pbit    asl     work+1          ; the next bit into C
        rol     work
        ldaa    2,x
        adca    2,x             ; times two plus the bit, in decimal
        daa
        staa    2,x
        ldaa    1,x
        adca    1,x
        daa
        staa    1,x
        ldaa    0,x
        adca    0,x
        daa
        staa    0,x
        dec     0,sp
        bne     pbit
        leas    1,sp
        leax    3,x
        cpy     #values2+6
        bne     pnext
        bgnd

values  fdb     54321,65535,0
values2 fdb     54321,65535,0
work    rmb     2
        org     $2000
digits  rmb     15
packed  rmb     9
