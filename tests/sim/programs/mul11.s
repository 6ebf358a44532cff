; 16 x 16 -> 32-bit unsigned multiply from four 8-bit MULs on the 68HC11;
; products of two pairs to $2000 and $2004.
        org     $1000
start   lds     #$01FF
        ldx     #pairs
        ldy     #$2000
pair    clr     0,y
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
nc2     ldab    #4
        abx
        aby
        cpx     #pairs+8
        bne     pair
        wai

pairs   fdb     $1234,$5678
        fdb     $FFFF,$FFFF
