; 16 x 16 -> 32-bit unsigned multiply from four 8-bit MULs, checked against
; EMUL. Products of each pair go to $2000 (partial products, 4 bytes) and
; $2004 (EMUL); two pairs.
        org     $1000
start   lds     #$3000
        ldx     #pairs
        ldy     #$2000
pair    clr     0,y             ; product = 0
        clr     1,y
        ldaa    1,x             ; al * bl -> bytes 2,3
        ldab    3,x
        mul
        std     2,y
        ldaa    0,x             ; ah * bh -> bytes 0,1
        ldab    2,x
        mul
        std     0,y
        ldaa    0,x             ; ah * bl -> bytes 1,2
        ldab    3,x
        mul
        addd    1,y
        std     1,y
        bcc     nc1
        inc     0,y
nc1     ldaa    1,x             ; al * bh -> bytes 1,2
        ldab    2,x
        mul
        addd    1,y
        std     1,y
        bcc     nc2
        inc     0,y
nc2     ldd     0,x             ; the same with EMUL: D * Y -> Y:D
        pshy
        ldy     2,x
        emul
        sty     high
        puly
        std     6,y
        movw    high,4,y
        leax    4,x
        leay    8,y
        cpx     #pairs+8
        bne     pair
        bgnd

pairs   fdb     $1234,$5678
        fdb     $FFFF,$FFFF
high    rmb     2
