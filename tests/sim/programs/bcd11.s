; Binary to BCD on the 68HC11, as bcd12.s: five unpacked digits by IDIV
; (to $2000, 15 bytes), three packed bytes by ADCA/DAA (to $200F, 9 bytes).
        org     $1000
start   lds     #$01FF
        ldy     #values
        ldx     #digits+5
next    stx     dp              ; one past the value's last digit
        ldd     0,y
        std     val
        ldaa    #5
        staa    count
dig     ldd     val
        ldx     #10
        idiv                    ; X = D / 10, D = D mod 10
        stx     val
        ldx     dp
        dex
        stab    0,x
        stx     dp
        dec     count
        bne     dig
        ldx     dp
        ldab    #10             ; the next value's digits end 10 further on
        abx
        iny
        iny
        cpy     #values+6
        bne     next
        ldy     #values
        ldx     #packed
pnext   ldd     0,y
        std     work
        clr     0,x
        clr     1,x
        clr     2,x
        ldab    #16
        stab    count
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
        dec     count
        bne     pbit
        inx
        inx
        inx
        iny
        iny
        cpy     #values+6
        bne     pnext
        wai

values  fdb     54321,65535,0
        org     $2000
digits  rmb     15
packed  rmb     9
        org     $2100
val     rmb     2
dp      rmb     2
work    rmb     2
count   rmb     1
