; Checksums of the 32 bytes 1..32: a 16-bit sum (to $2000), the XOR of all
; bytes ($2002) and the ones' complement of the 8-bit sum ($2003), the
; S-record kind.
        org     $1000
start   lds     #$3000
        ldx     #data
        ldy     #0              ; 16-bit sum
        clra                    ; xor
        ldab    #32
loop    pshb
        ldab    0,x
        eora    0,x
        aby
        pulb
        inx
        dbne    b,loop
        sty     $2000
        staa    $2002
        ldab    $2001
        comb
        stab    $2003
        bgnd

data    fcb     1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16
        fcb     17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32
