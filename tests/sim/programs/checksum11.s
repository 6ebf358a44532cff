; Checksums of the bytes 1..32 on the 68HC11: 16-bit sum ($2000), XOR
; ($2002), ones' complement of the 8-bit sum ($2003).
        org     $1000
start   lds     #$01FF
        ldx     #data
        ldy     #0
        clra
        ldab    #32
        stab    count
loop    ldab    0,x
        eora    0,x
        aby
        inx
        dec     count
        bne     loop
        sty     $2000
        staa    $2002
        ldab    $2001
        comb
        stab    $2003
        wai

data    fcb     1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16
        fcb     17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32
        org     $2100
count   rmb     1
